# The set-up commands: `make demo`, `make test`, `make install` and `make bench`. Each first
# installs the packages that it needs and are missing (scripts/bootstrap.sh), and no others.
# `make asan`, `make tsan` and `make fuzz` are the sanitizer and fuzz stages of .ci/run.
BUILD ?= build
PREFIX ?= /usr/local
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
BENCHES = startup exec cas json identity envelope

# Every configure states each project switch, so a switch given once does not linger in the
# folder's cache after it is dropped; CMAKE_FLAGS come last and win.
SWITCHES = -DTOVREL_WERROR=OFF -DTOVREL_SANITIZE=OFF -DTOVREL_TSAN=OFF -DTOVREL_FUZZ=OFF
CLANG = -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
# $(call configure,folder,flags): configuring an existing folder is quick, so it always runs.
configure = cmake -S . -B $(1) -G Ninja $(SWITCHES) $(2) $(CMAKE_FLAGS)

# The binary alone: configured without the tests (so GoogleTest is not needed), and only its
# own build steps run.
define build_binary
	$(call configure,$(BUILD),-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVREL_TESTS=OFF)
	ninja -C $(BUILD) tovrel
endef

.PHONY: all build test demo install bench asan tsan fuzz clean

all: build

build:
	@scripts/bootstrap.sh build
	$(build_binary)

test:
	@scripts/bootstrap.sh test
	$(call configure,$(BUILD),-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVREL_TESTS=ON)
	ninja -C $(BUILD)
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

demo:
	@scripts/bootstrap.sh demo
	$(build_binary)
	@scripts/demo.sh $(BUILD)/tovrel

install:
	@scripts/bootstrap.sh build
	$(build_binary)
	cmake --install $(BUILD) --prefix $(PREFIX) --strip

# Every benchmark script, one after the other (each runs its peers in the same run); the
# target fails at the end when one of them did.
bench:
	@scripts/bootstrap.sh bench
	$(build_binary)
	@failed=""; for b in $(BENCHES); do \
	  echo "== bench/$$b.sh"; bench/$$b.sh $(BUILD)/tovrel || failed="$$failed bench/$$b.sh"; \
	done; \
	[ -z "$$failed" ] || { echo "bench: failed:$$failed" >&2; exit 1; }

# The tests under AddressSanitizer and UndefinedBehaviorSanitizer.
asan:
	@scripts/bootstrap.sh sanitize
	$(call configure,build-asan,-DCMAKE_BUILD_TYPE=Debug -DTOVREL_SANITIZE=ON -DTOVREL_TESTS=ON $(CLANG))
	ninja -C build-asan
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir build-asan --output-on-failure -j $(JOBS)

# The tests under ThreadSanitizer; the first race report ends the process that found it.
tsan:
	@scripts/bootstrap.sh sanitize
	$(call configure,build-tsan,-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVREL_TSAN=ON -DTOVREL_TESTS=ON $(CLANG))
	ninja -C build-tsan
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  ctest --test-dir build-tsan --output-on-failure -j $(JOBS)

# Every libFuzzer target for FUZZ_SECONDS seconds, side by side.
fuzz:
	@scripts/bootstrap.sh fuzz
	$(call configure,build-fuzz,-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVREL_FUZZ=ON -DTOVREL_TESTS=OFF $(CLANG))
	ninja -C build-fuzz
	scripts/fuzz.sh build-fuzz $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz

# The two set-up commands: `make demo` and `make test`. Both bootstrap missing packages first.
# `make asan`, `make tsan` and `make fuzz` are the sanitizer and fuzz stages of .ci/run.
BUILD ?= build
PREFIX ?= /usr/local
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60

# Every configure states each project switch, so a switch given once does not linger in the
# folder's cache after it is dropped; CMAKE_FLAGS come last and win.
SWITCHES = -DTOVREL_WERROR=OFF -DTOVREL_SANITIZE=OFF -DTOVREL_TSAN=OFF -DTOVREL_FUZZ=OFF -DTOVREL_TESTS=ON
CLANG = -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
# $(call configure,folder,flags): configuring an existing folder is quick, so it always runs.
configure = cmake -S . -B $(1) -G Ninja $(SWITCHES) $(2) $(CMAKE_FLAGS)

.PHONY: all bootstrap build test demo install asan tsan fuzz clean

all: build

bootstrap:
	@scripts/bootstrap.sh

build: bootstrap
	$(call configure,$(BUILD),-DCMAKE_BUILD_TYPE=RelWithDebInfo)
	ninja -C $(BUILD)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

demo: build
	@scripts/demo.sh $(BUILD)/tovrel

install: build
	cmake --install $(BUILD) --prefix $(PREFIX) --strip

# The tests under AddressSanitizer and UndefinedBehaviorSanitizer.
asan: bootstrap
	$(call configure,build-asan,-DCMAKE_BUILD_TYPE=Debug -DTOVREL_SANITIZE=ON $(CLANG))
	ninja -C build-asan
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir build-asan --output-on-failure -j $(JOBS)

# The tests under ThreadSanitizer; the first race report ends the process that found it.
tsan: bootstrap
	$(call configure,build-tsan,-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVREL_TSAN=ON $(CLANG))
	ninja -C build-tsan
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  ctest --test-dir build-tsan --output-on-failure -j $(JOBS)

# Each libFuzzer target for FUZZ_SECONDS seconds.
fuzz: bootstrap
	$(call configure,build-fuzz,-DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVREL_FUZZ=ON -DTOVREL_TESTS=OFF $(CLANG))
	ninja -C build-fuzz
	scripts/fuzz.sh build-fuzz $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz

# The two set-up commands: `make demo` and `make test`. Both bootstrap missing packages first.
BUILD ?= build
PREFIX ?= /usr/local
JOBS ?= $(shell nproc)

.PHONY: all bootstrap build test demo install asan fuzz clean

all: build

bootstrap:
	@scripts/bootstrap.sh

$(BUILD)/build.ninja: | bootstrap
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: bootstrap $(BUILD)/build.ninja
	ninja -C $(BUILD)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

demo: build
	@scripts/demo.sh $(BUILD)/tovrel

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD) build-asan build-fuzz

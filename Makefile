# The README's commands. Thin wrappers over CMake and CTest.
BUILD ?= build
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 30
JOBS ?= $(shell nproc)

.PHONY: all deps configure build test fuzz bench clean run

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Opens the application on a fresh demo machine (under Xvfb with screenshots when there is no display).
run: build
	scripts/run-demo $(BUILD)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# Each libFuzzer target runs FUZZ_SECONDS from its seed corpus; a finding fails the run.
fuzz: deps
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DQUILLWICK_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=clang++-16
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	scripts/run-fuzz $(FUZZ_BUILD) $(FUZZ_SECONDS)

bench: build
	@for b in $(BUILD)/bench/*_bench; do [ -x "$$b" ] && "$$b"; done

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD)

# The two set-up commands: `make run` and `make test`. Both install what is missing first.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
FUZZ_SECONDS ?= 60
FUZZ_JOBS ?= 4

.PHONY: all deps configure build run test bench fuzz clean

all: build

deps:
	bash scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Builds only the programs the demo runs; `make build` and `make test` build everything.
run: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target demo_programs
	bash scripts/run-demo $(BUILD_DIR)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

bench: deps
	cmake -S . -B $(BUILD_DIR)-bench -DTARNWICK_BUILD_BENCH=ON -DTARNWICK_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD_DIR)-bench -j $(JOBS)
	bash scripts/run-bench $(BUILD_DIR)-bench

# libFuzzer targets (clang 14, address and undefined-behaviour sanitizers) in their own build
# folder; each runs FUZZ_SECONDS, FUZZ_JOBS at a time, and any finding fails the run.
fuzz:
	bash scripts/install-deps --fuzz
	CC=clang-14 CXX=clang++-14 cmake -S . -B $(BUILD_DIR)-fuzz -DTARNWICK_BUILD_FUZZ=ON -DTARNWICK_BUILD_TESTS=OFF
	cmake --build $(BUILD_DIR)-fuzz -j $(JOBS)
	bash fuzz/run-fuzz $(BUILD_DIR)-fuzz $(FUZZ_SECONDS) $(FUZZ_JOBS)

clean:
	rm -rf $(BUILD_DIR) $(BUILD_DIR)-bench $(BUILD_DIR)-fuzz out

# The two set-up commands: `make run` and `make test`. Both install what is missing first.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build run test bench clean

all: build

deps:
	bash scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	bash scripts/run-demo $(BUILD_DIR)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

bench: deps
	cmake -S . -B $(BUILD_DIR)-bench -DTARNWICK_BUILD_BENCH=ON -DTARNWICK_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD_DIR)-bench -j $(JOBS)
	bash scripts/run-bench $(BUILD_DIR)-bench

clean:
	rm -rf $(BUILD_DIR) $(BUILD_DIR)-bench out

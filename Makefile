# Thin entry points; the build itself is CMake's.
BUILD      ?= build
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all setup build test clean

all: build

setup:
	@scripts/setup.sh build

$(BUILD)/CMakeCache.txt: | setup
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

build: setup $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# The whole suite.
test: build
	ctest --test-dir $(BUILD) -j $(JOBS) --output-on-failure

clean:
	rm -rf $(BUILD)

# The commands a developer runs; see README.md.
BUILD ?= build
JOBS ?= $(shell nproc)

BUILD_PACKAGES := cmake make g++ qt6-base-dev qt6-qpa-plugins fonts-liberation
TEST_PACKAGES := $(BUILD_PACKAGES) libgtest-dev libgmock-dev xvfb xauth iproute2 nftables

.PHONY: all deps test-deps build run test test-asan bench clean

all: build

deps:
	@scripts/ensure-packages $(BUILD_PACKAGES)

test-deps:
	@scripts/ensure-packages $(TEST_PACKAGES)

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/src/app/quorvex

test: test-deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure

# The same suite under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan:
	$(MAKE) test BUILD=build-asan CMAKE_FLAGS="-DQUORVEX_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DQUORVEX_BENCH=OFF"

bench: build
	$(BUILD)/bench/probe/probe_bench
	@if [ -x $(BUILD)/bench/lab/run-lab-bench ]; then $(BUILD)/bench/lab/run-lab-bench; fi

clean:
	rm -rf build build-asan

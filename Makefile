# The commands a developer runs; see README.md.
BUILD ?= build
JOBS ?= $(shell nproc)

# dpkg-buildflags gives the build Debian's flags, as the package has them.
BUILD_PACKAGES := cmake make g++ qt6-base-dev libxcb1-dev qt6-qpa-plugins fonts-liberation dpkg-dev
# rsvg-convert draws the desktop entry's icons, which a full build makes.
ICON_PACKAGES := librsvg2-bin
# setcap gives the built echo helper its capability for the network lab;
# jq runs the JSON output's documented recipes.
TEST_PACKAGES := $(BUILD_PACKAGES) $(ICON_PACKAGES) libgtest-dev libgmock-dev xvfb xauth iproute2 nftables libcap2-bin jq prometheus prometheus-node-exporter
# The batch benchmark also runs under Xvfb with accessibility on, beside fping.
BENCH_PACKAGES := xvfb xauth dbus at-spi2-core fping strace iproute2 nftables
# dpkg-shlibdeps and file find the package's library dependencies.
PACKAGE_PACKAGES := $(TEST_PACKAGES) file
# The build that `make run`, `make test` and `make package` share is the
# package's: Debian's optimisation and hardening flags, and the prefix the
# package installs into, where an installed program looks for its echo
# helper (run from the build tree, it runs the helper built beside it). So
# CI tests the very binaries it packages, and builds them once.
BUILD_FLAGS ?= -DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_CXX_FLAGS="$$(dpkg-buildflags --get CPPFLAGS) $$(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$$(dpkg-buildflags --get LDFLAGS)"
# What `make run` builds: the program and what it runs, no tests or benchmarks.
RUN_TARGETS := quorvex
# The fuzz targets build with clang and its libFuzzer runtime.
FUZZ_PACKAGES := $(BUILD_PACKAGES) clang libclang-rt-14-dev
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
# One formatter version for everyone: another one formats differently.
FORMAT_PACKAGES := clang-format-14
CLANG_FORMAT := clang-format-14
FORMAT_FILES = find src tests bench -name '*.cpp' -o -name '*.h' | sort

.PHONY: all deps test-deps build run test test-asan fuzz-deps fuzz test-fuzz-build bench package-deps package format format-check clean

all: build

deps:
	@scripts/ensure-packages $(BUILD_PACKAGES)

test-deps:
	@scripts/ensure-packages $(TEST_PACKAGES)

$(BUILD)/CMakeCache.txt: export DEB_BUILD_MAINT_OPTIONS = hardening=+all
$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(BUILD_FLAGS) $(CMAKE_FLAGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

run: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target $(RUN_TARGETS)
	$(BUILD)/src/app/quorvex

# The suite in build $(1); after CTest's summary, each skipped test with the
# line that says why.
run-suite = cd $(1) && rm -f Testing/junit.xml && status=0 && \
  { ctest --output-on-failure --output-junit Testing/junit.xml || status=$$?; } && \
  $(CURDIR)/scripts/report-skipped Testing/junit.xml && exit $$status

test: test-deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)
	$(call run-suite,$(BUILD))

# The same suite under AddressSanitizer and UndefinedBehaviorSanitizer.
ASAN_BUILD ?= build-asan
ASAN_FLAGS ?= -DQUORVEX_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DQUORVEX_BENCH=OFF
test-asan:
	$(MAKE) test BUILD=$(ASAN_BUILD) BUILD_FLAGS="$(ASAN_FLAGS)"

# Every parser of outside bytes under libFuzzer, ASan and UBSan, each for
# FUZZ_SECONDS from its starting corpus (tests/fuzz/). The gcc builds hold the
# code to -Werror; a warning only clang gives does not stop the fuzzers.
FUZZ_FLAGS = -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DQUORVEX_FUZZ=ON -DQUORVEX_BENCH=OFF -DQUORVEX_WERROR=OFF
$(FUZZ_BUILD)/CMakeCache.txt:
	cmake -S . -B $(FUZZ_BUILD) $(FUZZ_FLAGS) -DQUORVEX_TESTS=OFF $(CMAKE_FLAGS)

# The suite under ASan and UBSan (clang) built into the fuzz build, which
# then serves `make fuzz` too: CI's one sanitized build, in place of
# test-asan's gcc build and a fuzz build of its own.
test-fuzz-build: test-deps fuzz-deps
	cmake -S . -B $(FUZZ_BUILD) $(FUZZ_FLAGS) -DQUORVEX_TESTS=ON $(CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	$(call run-suite,$(FUZZ_BUILD))

fuzz-deps:
	@scripts/ensure-packages $(FUZZ_PACKAGES)

fuzz: fuzz-deps $(FUZZ_BUILD)/CMakeCache.txt
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target quorvex_fuzzers
	tests/fuzz/run-fuzzers $(FUZZ_BUILD) $(FUZZ_SECONDS)

bench: build
	@scripts/ensure-packages $(BENCH_PACKAGES)
	$(BUILD)/bench/probe/probe_bench
	$(BUILD)/bench/runs/run-batch-bench
	@if [ -x $(BUILD)/bench/lab/run-lab-bench ]; then $(BUILD)/bench/lab/run-lab-bench; fi
	$(BUILD)/bench/parallel/parallel_bench
	$(BUILD)/bench/helper/run-helper-bench
	bench/lossy/lossy_link.sh $(BUILD)/src/app/quorvex

# The Debian package, made by CPack from the build that `make test` runs
# (which builds the tests too); it lands in $(BUILD)/.
package-deps:
	@scripts/ensure-packages $(PACKAGE_PACKAGES)

package: package-deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && cpack -G DEB

# .clang-format holds the style; format-check names every file it would change.
format:
	@scripts/ensure-packages $(FORMAT_PACKAGES)
	$(FORMAT_FILES) | xargs $(CLANG_FORMAT) -i

format-check:
	@scripts/ensure-packages $(FORMAT_PACKAGES)
	@unformatted=$$($(FORMAT_FILES) | while read -r file; do \
	  $(CLANG_FORMAT) --dry-run -Werror "$$file" 2>/dev/null || echo "$$file"; done); \
	if [ -n "$$unformatted" ]; then echo "Not formatted (make format):"; echo "$$unformatted"; exit 1; fi

clean:
	rm -rf build build-asan $(FUZZ_BUILD)

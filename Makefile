# The commands a developer runs; see README.md.
BUILD ?= build
JOBS ?= $(shell nproc)

# What `make run` needs, and no more: it builds neither the tests nor the
# icons. dpkg-buildflags gives the build Debian's flags, as the package has
# them.
BUILD_PACKAGES := cmake make g++ qt6-base-dev libxcb1-dev qt6-qpa-plugins fonts-liberation dpkg-dev
# rsvg-convert draws the desktop entry's icons, which a full build makes
# (`make build`, `make test`, `make package`).
ICON_PACKAGES := librsvg2-bin
# setcap gives the built echo helper its capability for the network lab;
# jq runs the JSON output's documented recipes; the lab reads the metrics
# with promtool and node_exporter, and compares --plugin with check_icmp
# (monitoring-plugins-basic).
TEST_PACKAGES := $(BUILD_PACKAGES) $(ICON_PACKAGES) libgtest-dev libgmock-dev xvfb xauth iproute2 nftables libcap2-bin jq prometheus prometheus-node-exporter monitoring-plugins-basic
# The batch benchmark also runs under Xvfb with accessibility on, beside fping;
# ping's flood shows what the kernel's IPv6 path costs beside IPv4's.
BENCH_PACKAGES := xvfb xauth dbus at-spi2-core fping iputils-ping strace iproute2 nftables
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

# Stamps that only a configure that succeeded leaves (CMake writes its
# cache before it can fail, so a cache is no sign of one): .configured for
# any, .configured-tests for one with the tests and benchmarks, which
# `make build`, `make test` and `make package` want. Running needs no test
# framework, so `make run` configures without them; a build that has them
# serves it as it is, and is neither configured nor built again for it.
CONFIGURED = $(BUILD)/.configured
CONFIGURED_TESTS = $(BUILD)/.configured-tests
# $(1): the tests' and benchmarks' options, before BUILD_FLAGS, whose own
# (test-asan's) win.
configure = rm -f $(CONFIGURED) $(CONFIGURED_TESTS) && \
  cmake -S . -B $(BUILD) $(1) $(BUILD_FLAGS) $(CMAKE_FLAGS) && touch $(CONFIGURED)

$(CONFIGURED) $(CONFIGURED_TESTS): export DEB_BUILD_MAINT_OPTIONS = hardening=+all
$(CONFIGURED):
	$(call configure,-DQUORVEX_TESTS=OFF -DQUORVEX_BENCH=OFF)
$(CONFIGURED_TESTS):
	$(call configure,-DQUORVEX_TESTS=ON -DQUORVEX_BENCH=ON)
	touch $@

# Everything, the tests and the icons among it.
build: test-deps $(CONFIGURED_TESTS)
	cmake --build $(BUILD) -j $(JOBS)

run: deps $(CONFIGURED)
	cmake --build $(BUILD) -j $(JOBS) --target $(RUN_TARGETS)
	$(BUILD)/src/app/quorvex

# The suite in build $(1); after CTest's summary, each skipped test with the
# line that says why.
run-suite = cd $(1) && rm -f Testing/junit.xml && status=0 && \
  { ctest --output-on-failure --output-junit Testing/junit.xml || status=$$?; } && \
  $(CURDIR)/scripts/report-skipped Testing/junit.xml && exit $$status

test: test-deps $(CONFIGURED_TESTS)
	cmake --build $(BUILD) -j $(JOBS)
	$(call run-suite,$(BUILD))

# The same suite under AddressSanitizer and UndefinedBehaviorSanitizer.
ASAN_BUILD ?= build-asan
ASAN_FLAGS ?= -DQUORVEX_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DQUORVEX_BENCH=OFF
test-asan:
	$(MAKE) test BUILD=$(ASAN_BUILD) BUILD_FLAGS="$(ASAN_FLAGS)"

# The echo engine and its lanes, and the command line with the resolver
# pool's threads, under ThreadSanitizer; tests/tsan.supp names what it
# reports inside glibc and Qt, and why.
.PHONY: test-tsan
TSAN_BUILD ?= build-tsan
TSAN_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEX_BENCH=OFF \
  -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread
TSAN_TESTS := tests/icmp/echo_socket_test tests/app/command_line_test tests/runs/runs_test
test-tsan: test-deps
	cmake -S . -B $(TSAN_BUILD) $(TSAN_FLAGS) $(CMAKE_FLAGS)
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target $(notdir $(TSAN_TESTS))
	set -e; for test in $(TSAN_TESTS); do \
	  TSAN_OPTIONS="suppressions=$(CURDIR)/tests/tsan.supp halt_on_error=1 exitcode=66" $(TSAN_BUILD)/$$test; done

# Every parser of outside bytes under libFuzzer, ASan and UBSan, each for
# FUZZ_SECONDS from its starting corpus (tests/fuzz/). The gcc builds hold the
# code to -Werror; a warning only clang gives does not stop the fuzzers.
FUZZ_FLAGS = -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DQUORVEX_FUZZ=ON -DQUORVEX_BENCH=OFF -DQUORVEX_WERROR=OFF
# As for $(BUILD): a stamp that only a configure that succeeded leaves.
FUZZ_CONFIGURED = $(FUZZ_BUILD)/.configured
fuzz-configure = rm -f $(FUZZ_CONFIGURED) && \
  cmake -S . -B $(FUZZ_BUILD) $(FUZZ_FLAGS) $(1) $(CMAKE_FLAGS) && touch $(FUZZ_CONFIGURED)
$(FUZZ_CONFIGURED):
	$(call fuzz-configure,-DQUORVEX_TESTS=OFF)

# The suite under ASan and UBSan (clang) built into the fuzz build, which
# then serves `make fuzz` too: CI's one sanitized build, in place of
# test-asan's gcc build and a fuzz build of its own.
test-fuzz-build: test-deps fuzz-deps
	$(call fuzz-configure,-DQUORVEX_TESTS=ON)
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	$(call run-suite,$(FUZZ_BUILD))

fuzz-deps:
	@scripts/ensure-packages $(FUZZ_PACKAGES)

fuzz: fuzz-deps $(FUZZ_CONFIGURED)
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
	bench/counts/count_bench.sh $(BUILD)/src/app/quorvex

# The Debian package, made by CPack from the build that `make test` runs
# (which builds the tests too); it lands in $(BUILD)/.
package-deps:
	@scripts/ensure-packages $(PACKAGE_PACKAGES)

package: package-deps $(CONFIGURED_TESTS)
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
	rm -rf build build-asan $(FUZZ_BUILD) $(TSAN_BUILD)

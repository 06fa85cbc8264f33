# SPDX-License-Identifier: MIT
# The commands a developer (and CI) uses. Each one first installs the Debian packages that it
# needs and that are missing (scripts/install-deps.sh, by profile), so a fresh Debian 12 machine
# needs nothing else, and someone who only wants to try the program gets no test tools.
BUILD_DIR ?= build
BENCH_DIR ?= build-bench
SANITIZE_DIR ?= build-sanitize
FUZZ_DIR ?= build-fuzz
PACKAGE_DIR ?= build-package
FUZZ_SECONDS ?= 60
JOBS ?= $(shell nproc)

.PHONY: all deps build run test bench bench-latency test-sanitize fuzz package clean

all: build

# Everything any of the commands below may need.
deps:
	./scripts/install-deps.sh all

# `run` and `test` share BUILD_DIR, so the program is built once for both. A fresh BUILD_DIR
# starts without the tests (CMake's BUILD_TESTING is off unless asked for), which need packages
# the program does not; `test` turns them on, and `run` then leaves them on but builds the
# program alone.
configure = cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

build:
	./scripts/install-deps.sh run
	$(configure)
	cmake --build $(BUILD_DIR) -j $(JOBS) $(BUILD_TARGETS)

run: BUILD_TARGETS = --target korvane
run: build
	$(BUILD_DIR)/bin/korvane

test:
	./scripts/install-deps.sh test
	$(configure) -DBUILD_TESTING=ON
	cmake --build $(BUILD_DIR) -j $(JOBS)
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

bench:
	./scripts/install-deps.sh bench
	cmake -S . -B $(BENCH_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release \
		-DBUILD_TESTING=OFF -DKORVANE_BUILD_BENCH=ON
	cmake --build $(BENCH_DIR) -j $(JOBS)
	cmake --build $(BENCH_DIR) --target run-benchmarks

# Many sites on many hosts 40 ms away, beside curl: root only (network namespaces), not in CI.
# HTTPS=1: the sites redirect to https, half of them with HSTS, as the web does.
bench-latency:
	./scripts/install-deps.sh latency
	cmake -S . -B $(BENCH_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release \
		-DBUILD_TESTING=OFF -DKORVANE_BUILD_BENCH=ON
	cmake --build $(BENCH_DIR) -j $(JOBS) --target bench_latency latency_forwarder
	bench/latency/run.sh $(BENCH_DIR)

# The whole suite again, built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize:
	./scripts/install-deps.sh test
	cmake -S . -B $(SANITIZE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKORVANE_SANITIZE=ON \
		-DBUILD_TESTING=ON
	cmake --build $(SANITIZE_DIR) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --test-dir $(SANITIZE_DIR) --output-on-failure -j $(JOBS)

# Every fuzz target for FUZZ_SECONDS, from the seed corpus in fuzz/corpus.
fuzz:
	./scripts/install-deps.sh fuzz
	cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DCMAKE_CXX_COMPILER=clang++ -DBUILD_TESTING=OFF -DKORVANE_BUILD_FUZZ=ON \
		-DKORVANE_FUZZ_SECONDS=$(FUZZ_SECONDS)
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target run-fuzzers

# The Debian source package (korvane_<version>.dsc, .tar.xz) and the binary packages
# (korvane_<version>_amd64.deb and its debug symbols) in PACKAGE_DIR, built by debian/rules
# through dpkg-buildpackage, unsigned, from a copy of the tracked files: the checkout gets none of
# the build's files, and nothing untracked goes into the source package. The same commit gives
# the same bytes: every time in the packages is the last commit's (outside a git checkout the
# changelog's, as dpkg-buildpackage takes it), as the copies are newer and dpkg clamps the
# times of newer files to it. A SOURCE_DATE_EPOCH given from outside wins.
package: export SOURCE_DATE_EPOCH ?= $(shell git log -1 --format=%ct 2>/dev/null)
package:
	./scripts/install-deps.sh package
	rm -rf $(PACKAGE_DIR)
	mkdir -p $(PACKAGE_DIR)/korvane
	if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then git ls-files -z; \
	else find . -path './build*' -prune -o -path ./.git -prune -o -type f -print0; fi | \
		tar -c --null -T - | tar -x --touch -C $(PACKAGE_DIR)/korvane
	cd $(PACKAGE_DIR)/korvane && dpkg-buildpackage -us -uc -J$(JOBS)
	rm -rf $(PACKAGE_DIR)/korvane
	@ls $(PACKAGE_DIR)/korvane_*.dsc $(PACKAGE_DIR)/korvane_*_amd64.deb

clean:
	rm -rf $(BUILD_DIR) $(BENCH_DIR) $(SANITIZE_DIR) $(FUZZ_DIR) $(PACKAGE_DIR)

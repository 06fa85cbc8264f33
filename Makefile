# The commands a developer (and CI) uses. Each one first installs whatever Debian packages are
# missing, so a fresh Debian 12 machine needs nothing else.
BUILD_DIR ?= build
BENCH_DIR ?= build-bench
SANITIZE_DIR ?= build-sanitize
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS ?= $(shell nproc)

.PHONY: all deps build run test bench test-sanitize fuzz install clean

all: build

deps:
	./scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	$(BUILD_DIR)/bin/korvane

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

bench: deps
	cmake -S . -B $(BENCH_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release \
		-DKORVANE_BUILD_TESTS=OFF -DKORVANE_BUILD_BENCH=ON
	cmake --build $(BENCH_DIR) -j $(JOBS)
	cmake --build $(BENCH_DIR) --target run-benchmarks

clean:
	rm -rf $(BUILD_DIR) $(BENCH_DIR) $(SANITIZE_DIR) $(FUZZ_DIR)

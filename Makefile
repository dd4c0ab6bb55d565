# Front door: `make run` (or `make run ARCHIVE=...`) and `make test` work on a fresh Debian 12 machine.
BUILD ?= build
JOBS ?= $(shell nproc)
ARCHIVE ?= examples/sample.vrk

.PHONY: deps build run sample test clean bench bench-quick

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/oxtrel "$(ARCHIVE)"

# Repacks the bundled sample after its tree has changed.
sample: build
	$(BUILD)/oxtrel-pack --compress examples/sample.vrk examples/sample

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The benchmark builds Release in its own tree and keeps its corpora in /dev/shm.
RELEASE_BUILD ?= build-release
BENCH_ARGS ?=

bench:
	@scripts/install-deps.sh hyperfine zip unzip libarchive-tools p7zip-full diffutils time
	cmake -S . -B $(RELEASE_BUILD) -DCMAKE_BUILD_TYPE=Release -DOXTREL_TESTS=OFF >/dev/null
	cmake --build $(RELEASE_BUILD) -j $(JOBS)
	python3 bench/run_bench.py --build $(RELEASE_BUILD) $(BENCH_ARGS)

bench-quick:
	@$(MAKE) --no-print-directory bench BENCH_ARGS=--quick

clean:
	rm -rf $(BUILD) $(RELEASE_BUILD)

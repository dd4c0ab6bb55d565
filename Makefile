# Front door: `make run ARCHIVE=...` and `make test` work on a fresh Debian 12 machine.
BUILD ?= build
JOBS ?= $(shell nproc)
ARCHIVE ?=

.PHONY: deps build run test clean bench bench-quick

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@test -n "$(ARCHIVE)" || { echo "usage: make run ARCHIVE=path/to/file.vrk" >&2; exit 2; }
	$(BUILD)/oxtrel "$(ARCHIVE)"

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

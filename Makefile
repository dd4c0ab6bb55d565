# Front door: `make run` (or `make run ARCHIVE=...`) and `make test` work on a fresh Debian 12 machine.
BUILD ?= build
JOBS ?= $(shell nproc)
ARCHIVE ?= examples/sample.vrk

.PHONY: deps build run sample test clean

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

clean:
	rm -rf $(BUILD)

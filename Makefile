# Front door: `make run ARCHIVE=...` and `make test` work on a fresh Debian 12 machine.
BUILD ?= build
JOBS ?= $(shell nproc)
ARCHIVE ?=

.PHONY: deps build run test clean

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

clean:
	rm -rf $(BUILD)

# Front door: `make run` (or `make run ARCHIVE=...`) and `make test` work on a fresh Debian 12 machine.
BUILD ?= build
JOBS ?= $(shell nproc)
ARCHIVE ?= examples/sample.vrk

# The sanitizer build lives beside build/; the fuzz build, made with clang, outside the tree.
SANITIZE_BUILD ?= build-sanitize
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= /tmp/oxtrel-fuzz-$(shell printf %s "$(CURDIR)" | md5sum | cut -c1-8)
FUZZ_SECONDS ?= 60
# WERROR=ON turns warnings into errors, as the CI builds do.
WERROR ?= OFF

# `make install` puts the programs, manual pages, completions and library under PREFIX.
PREFIX ?= /usr/local
DIST_BUILD ?= build-dist

.PHONY: deps programs build run sample test install clean test-sanitize test-tsan fuzz-build fuzz fuzz-seeds bench \
	bench-quick format dist test-dist \
	windows test-windows

deps:
	@scripts/install-deps.sh

CONFIGURE = cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOXTREL_WERROR=$(WERROR)

# Only the two programs and the library objects they link. A first configuration leaves out the
# tests, benchmark tools and Python module, whose dependencies it has not installed; a tree that
# `make build` configured keeps them.
programs:
	@scripts/install-deps.sh --programs
	$(CONFIGURE) $$(test -f $(BUILD)/CMakeCache.txt || echo -DOXTREL_TESTS=OFF -DOXTREL_BENCH=OFF -DOXTREL_PYTHON=OFF) >/dev/null
	cmake --build $(BUILD) -j $(JOBS) --target oxtrel oxtrel-pack

build: deps
	$(CONFIGURE) -DOXTREL_TESTS=ON -DOXTREL_BENCH=ON -DOXTREL_PYTHON=ON >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

run: programs
	$(BUILD)/oxtrel "$(ARCHIVE)"

# Repacks the bundled sample after its tree has changed.
sample: programs
	$(BUILD)/oxtrel-pack --compress examples/sample.vrk examples/sample

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The prefix is configured, not only given to --install: the Python package's place depends on it.
install: programs
	cmake $(BUILD) -DCMAKE_INSTALL_PREFIX="$(PREFIX)" >/dev/null
	cmake --build $(BUILD) -j $(JOBS)
	cmake --install $(BUILD)

# Release artifacts and their checksums in dist/: see README "Building a release".
dist: windows
	@scripts/install-deps.sh --programs dpkg-dev zip python3-dev pybind11-dev python3-pybind11 python3-setuptools \
		python3-pip python3-wheel
	scripts/make-dist.sh $(DIST_BUILD) dist $(WINDOWS_BUILD)

# Installs and runs each artifact as a user would; needs the build tree's programs to compare with.
test-dist: dist programs
	@scripts/install-deps.sh --programs lintian man-db pkg-config python3-venv unzip
	scripts/test-dist.sh dist $(BUILD)

# oxtrel.exe and oxtrel-pack.exe for 64-bit Windows, cross-built with MinGW-w64: one static file
# each. libdeflate is built for Windows once, from Debian's source package, and cached outside the
# tree (scripts/build-libdeflate-mingw.sh); so is the Wine prefix the tests run in.
WINDOWS_BUILD ?= build-windows
MINGW_PACKAGES = g++-mingw-w64-x86-64-posix libz-mingw-w64-dev dpkg-dev
WINE_PACKAGES = wine wine64

windows:
	@scripts/install-deps.sh $(MINGW_PACKAGES)
	@prefix=$$(scripts/build-libdeflate-mingw.sh) && \
	cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
	  -DLIBDEFLATE_INCLUDE_DIR=$$prefix/include -DLIBDEFLATE_LIBRARY=$$prefix/lib/libdeflate.a \
	  -DOXTREL_PYTHON=OFF -DOXTREL_BENCH=OFF -DOXTREL_WERROR=$(WERROR) >/dev/null
	cmake --build $(WINDOWS_BUILD) -j $(JOBS) --target oxtrel oxtrel-pack

# The suite's portable part and the programs' own tests under Wine, headless; the programs are
# compared with the Linux build's on the same archives and trees.
test-windows: windows programs
	@scripts/install-deps.sh $(WINE_PACKAGES)
	cmake --build $(WINDOWS_BUILD) -j $(JOBS) --target oxtrel_windows_tests
	scripts/test-windows.sh $(WINDOWS_BUILD) $(BUILD)

# The benchmark builds Release in its own tree and keeps its corpora in /dev/shm.
RELEASE_BUILD ?= build-release
BENCH_ARGS ?=

bench:
	@scripts/install-deps.sh hyperfine zip unzip libarchive-tools p7zip-full diffutils time
	cmake -S . -B $(RELEASE_BUILD) -DCMAKE_BUILD_TYPE=Release -DOXTREL_TESTS=OFF >/dev/null
	cmake --build $(RELEASE_BUILD) -j $(JOBS)
	python3 bench/run_bench.py --build $(RELEASE_BUILD) $(BENCH_ARGS)
	python3 bench/update_bench.py --build $(RELEASE_BUILD) $(BENCH_ARGS)
	python3 bench/diff_bench.py --build $(RELEASE_BUILD) $(BENCH_ARGS)

bench-quick:
	@$(MAKE) --no-print-directory bench BENCH_ARGS=--quick

test-sanitize: deps
	cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOXTREL_SANITIZE=ON -DOXTREL_WERROR=$(WERROR) >/dev/null
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && ctest --output-on-failure -j $(JOBS)

# The suite under ThreadSanitizer; the tests that run the binaries run its instrumented builds.
test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOXTREL_TSAN=ON -DOXTREL_BENCH=OFF -DOXTREL_WERROR=$(WERROR) >/dev/null
	cmake --build $(TSAN_BUILD) -j $(JOBS)
	cd $(TSAN_BUILD) && ctest --output-on-failure -j $(JOBS)

fuzz-build: deps
	@scripts/install-deps.sh clang libclang-rt-14-dev
	CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOXTREL_FUZZ=ON -DOXTREL_TESTS=OFF >/dev/null
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

fuzz: fuzz-build
	fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

# Rewrites fuzz/corpus from the archives the seed tool builds and the sample.
fuzz-seeds: fuzz-build
	$(FUZZ_BUILD)/fuzz/seed_corpus fuzz/corpus $(wildcard examples/sample.vrk)

# Reformats the C++ sources by .clang-format.
format:
	@scripts/install-deps.sh clang-format
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(WINDOWS_BUILD) $(SANITIZE_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) $(RELEASE_BUILD) $(DIST_BUILD) dist

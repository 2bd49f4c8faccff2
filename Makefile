# Thin wrapper over CMake so the common tasks are one short command each.
BUILD_DIR ?= build
BUILD_TYPE ?= Release
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
MAKEFLAGS += --no-print-directory

.PHONY: all deps build demo test test-sanitize fuzz windows test-windows install package bench remote-batch pre-commit-hooks clean

all: build

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS)

demo: build
	@scripts/demo $(BUILD_DIR)

test: build
	@ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# Both tools into PREFIX/bin and their manual pages into PREFIX/share/man/man1.
PREFIX ?= /usr/local

install: build
	@cmake --install $(BUILD_DIR) --prefix $(PREFIX)

# A Debian package of both tools and pages, in build/package/. Name yourself
# as its maintainer before publishing it: make package MAINTAINER="Name <address>".
MAINTAINER ?= pngtools maintainers <maintainers@pngtools.invalid>

package: build
	@cmake -S . -B $(BUILD_DIR) -DPNGTOOLS_MAINTAINER="$(MAINTAINER)" >/dev/null
	@cd $(BUILD_DIR) && cpack -G DEB >/dev/null
	@ls $(BUILD_DIR)/package/*.deb

# The whole suite again, built so that any bad memory access or undefined
# behaviour stops the test that caused it. A header may declare an image of
# many gigabytes; the codec reserves that much before it finds the data
# short, which plain malloc grants lazily but the sanitizer would map and
# poison for real. Refusing such allocations, as a smaller machine would,
# keeps the run fast and checks that the refusal is handled.
SANITIZER_OPTIONS = allocator_may_return_null=1:max_allocation_size_mb=4096

test-sanitize: deps
	@cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPNGTOOLS_SANITIZE=ON >/dev/null
	@cmake --build build-sanitize -j $(JOBS)
	@ASAN_OPTIONS=$(SANITIZER_OPTIONS) ctest --test-dir build-sanitize --output-on-failure -j $(JOBS)

# scrubhidden's chunk shortcut against a full decode under libFuzzer, clang
# and the sanitizers, for FUZZ_SECONDS; not part of make test. It starts from
# fuzz/seeds/ and the test corpus, keeps what it learns in build-fuzz/corpus/
# and writes each input that failed to build-fuzz/findings/.
FUZZ_SECONDS ?= 30

fuzz:
	@scripts/install-deps fuzz
	@cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DPNGTOOLS_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
	@cmake --build build-fuzz -j $(JOBS) --target hidden_colour_possible_fuzz
	@mkdir -p build-fuzz/corpus build-fuzz/findings
	@ASAN_OPTIONS=$(SANITIZER_OPTIONS) build-fuzz/bin/hidden_colour_possible_fuzz -max_total_time=$(FUZZ_SECONDS) \
		-dict=fuzz/png.dict -artifact_prefix=build-fuzz/findings/ build-fuzz/corpus fuzz/seeds tests/corpus

# Both tools for 64-bit Windows, cross-built with MinGW-w64 into
# build-windows/ and packed with README and licences into a zip; and the
# suite built the same way and run under wine.
windows:
	@scripts/install-deps windows
	@scripts/windows

test-windows:
	@scripts/install-deps windows
	@scripts/windows test

# Both tools against bare programs making the same codec calls; not part of
# make test. ROUNDS runs of each, the fastest counting.
ROUNDS ?= 3

bench: build
	@cmake --build $(BUILD_DIR) --target bench_programs >/dev/null
	@scripts/bench $(BUILD_DIR) $(ROUNDS)

# The README's recipes for a batch spread over several hosts, run against two
# sshd on this machine; needs root.
remote-batch: build
	@scripts/remote-batch $(BUILD_DIR)

# Commits in scratch repositories through the hooks of .pre-commit-hooks.yaml
# as committed at HEAD, with the tools just built; no network needed.
pre-commit-hooks: build
	@scripts/pre-commit-hooks $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) build-sanitize build-fuzz build-windows

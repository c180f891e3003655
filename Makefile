# SPDX-License-Identifier: GPL-3.0-or-later
# Thin wrappers around scripts/ and CMake. `make run` and `make test` work on a fresh machine.
BUILD ?= build
SANITIZE ?= OFF
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
BUILD_FUZZ ?= build-fuzz
SECONDS ?= 60
# The ports `make run` listens on and sends to.
TYPE4_PORT ?= 7005
TYPE5_PORT ?= 7018

BUILD_WINDOWS ?= build-windows

.PHONY: deps configure build run test bench fuzz soak screenshot mutants clean format windows \
	windows-test deb wireshark

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DTALVGEN_SANITIZE=$(SANITIZE) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j$(JOBS)

run: build
	@TYPE4_PORT=$(TYPE4_PORT) TYPE5_PORT=$(TYPE5_PORT) scripts/run-demo $(BUILD)

test: build
	@cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS)

bench: build
	@scripts/run-benchmarks $(BUILD)

# Each fuzz target for SECONDS, in a clang build of its own.
fuzz: deps
	@scripts/run-fuzz $(BUILD_FUZZ) $(SECONDS) $(CMAKE_FLAGS)

# The Wireshark dissector, into the personal plugin folder.
wireshark: build
	@scripts/install-wireshark $(BUILD)

soak: build
	@scripts/run-soak $(BUILD)

screenshot: build
	@scripts/screenshot $(BUILD)

# Cross-compiled with MinGW-w64 and the Qt of ../shared/toolchains; writes the zip in dist/.
windows:
	@scripts/build-windows $(BUILD_WINDOWS)

# The Windows build's tests and programs under Wine (and Xvfb for the window).
windows-test: windows
	@scripts/test-windows $(BUILD_WINDOWS)

# The Debian package in dist/, from the build folder make build uses.
deb: build
	@scripts/build-deb $(BUILD)

# Slow (a rebuild and a suite run per mutant); not part of CI.
mutants: deps
	@scripts/mutants

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD)

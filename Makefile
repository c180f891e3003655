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
BUILD_ODR ?= build-odr

# CMake's build runs make below this one, which would announce every folder it enters and leaves.
MAKEFLAGS += --no-print-directory

# What make run leaves out of the build's output: the lines a build prints for targets already up
# to date. What is compiled or linked, warnings and errors still show.
BUILD_NOISE := ^\[ *[0-9]+%\] (Built target|Automatic MOC|Automatic UIC|Automatic RCC|Scanning \
	dependencies)|^Consolidate compiler generated dependencies|: (Entering|Leaving) directory|^ninja: \
	no work to do

.PHONY: deps configure build quiet-build run test bench fuzz soak screenshot mutants clean format \
	windows windows-test deb wireshark odr

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DTALVGEN_SANITIZE=$(SANITIZE) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j$(JOBS)

# The build for make run: silent on an up-to-date tree; a failed build stops make run with its
# errors shown.
quiet-build: configure
	@bash -c 'cmake --build "$$1" -j"$$2" 2>&1 | grep -Ev -- "$$3"; exit "$${PIPESTATUS[0]}"' \
		quiet-build $(BUILD) $(JOBS) '$(BUILD_NOISE)'

run: quiet-build
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

# The programs linked whole (LTO): fails when a type name has two definitions.
odr: deps
	@scripts/check-odr $(BUILD_ODR)

# Slow (a rebuild and a suite run per mutant); not part of CI.
mutants: deps
	@scripts/mutants

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD)

# Thin wrappers around scripts/ and CMake. `make run` and `make test` work on a fresh machine.
BUILD ?= build
SANITIZE ?= OFF
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: deps configure build run test bench screenshot mutants clean format

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DTALVGEN_SANITIZE=$(SANITIZE) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j$(JOBS)

run: build
	@scripts/run-demo $(BUILD)

test: build
	@cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS)

bench: build
	@scripts/run-benchmarks $(BUILD)

screenshot: build
	@scripts/screenshot $(BUILD)

# Slow (a rebuild and a suite run per mutant); not part of CI.
mutants: deps
	@scripts/mutants

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD)

# Thin driver over CMake presets. Every target first installs what is missing.
SHELL := /bin/bash

.PHONY: all deps build run test bench clean

all: build

deps:
	@bash scripts/install_deps.sh

build: deps
	cmake --preset default
	cmake --build --preset default

run: build
	@bash scripts/run_main.sh

# Every test, built with clang under AddressSanitizer and UndefinedBehaviorSanitizer
# (this tree also holds the fuzz target, run for a bounded time as one of the tests).
test: deps
	cmake --preset sanitize
	cmake --build --preset sanitize
	ctest --preset sanitize

bench: build
	@bash scripts/run_bench.sh

clean:
	rm -rf build

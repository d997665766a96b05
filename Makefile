# Thin driver over CMake presets. Every target first installs what is missing.
SHELL := /bin/bash

.PHONY: all deps build run test bench clean screenshot

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

# The window's pictures in docs/, taken under a virtual X server (Xvfb).
screenshot: deps
	cmake --preset default
	cmake --build --preset default --target window_tests
	COMPACTADOR_SCREENSHOT_DIR=$(CURDIR)/docs QT_QPA_PLATFORM=xcb \
	  xvfb-run -a -s "-screen 0 1024x768x24 -dpi 96" \
	  build/default/tests/window/window_tests --gtest_filter='Screenshots.*'

bench: build
	@bash scripts/run_bench.sh

clean:
	rm -rf build

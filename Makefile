# A thin wrapper over CMake and CTest. `make run` and `make test` install
# whatever Debian packages are missing first.
BUILD    ?= build
SANBUILD ?= build-sanitize
JOBS     ?= $(shell nproc)

.PHONY: all deps build build-sanitize run test assets bench fuzz clean

# `make assets` regenerates the committed files in assets/ from their sources.
include tools/assets.mk

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

# Starts the launcher in the current directory, where it looks for
# vsid.exe, 117.sid, x64.exe and joltrak16k.crt.
run: build
	$(BUILD)/launcher/quorbel

# Every unit and end-to-end test, in the normal build and again in a build
# with AddressSanitizer and UndefinedBehaviorSanitizer.
test: build build-sanitize
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	ctest --test-dir $(SANBUILD) --output-on-failure -j $(JOBS)

build-sanitize: deps
	cmake -S . -B $(SANBUILD) -DCMAKE_BUILD_TYPE=Debug -DQUORBEL_SANITIZE=ON
	cmake --build $(SANBUILD) -j $(JOBS)

clean:
	rm -rf $(BUILD) $(SANBUILD)

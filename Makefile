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

# `make fuzz` builds the libFuzzer programs with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in their own folder and runs each for
# FUZZ_SECONDS, starting from its seed corpus in tests/fuzz/corpus/<target>.
# What a run adds to the corpus stays in $(FUZZBUILD)/corpus/<target>; a crash,
# leak or hang is written to $(FUZZBUILD)/findings/<target>/ and stops the run.
FUZZBUILD    ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= images commandline keyboard
FUZZ_FLAGS   ?= -timeout=30 -rss_limit_mb=3000 -print_final_stats=1

fuzz:
	@scripts/install-deps.sh --fuzz
	CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZBUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DQUORBEL_SANITIZE=ON -DQUORBEL_FUZZ=ON
	cmake --build $(FUZZBUILD) -j $(JOBS) --target $(addsuffix _fuzzer,$(FUZZ_TARGETS))
	@set -e; for t in $(FUZZ_TARGETS); do \
	    mkdir -p $(FUZZBUILD)/corpus/$$t $(FUZZBUILD)/findings/$$t; \
	    echo "== fuzzing $$t for $(FUZZ_SECONDS) s"; \
	    $(FUZZBUILD)/tests/fuzz/$${t}_fuzzer -max_total_time=$(FUZZ_SECONDS) $(FUZZ_FLAGS) \
	        -artifact_prefix=$(FUZZBUILD)/findings/$$t/ \
	        $(FUZZBUILD)/corpus/$$t tests/fuzz/corpus/$$t; \
	done

# Benchmarks of a Release build in build-bench/: the in-process
# micro-benchmarks and the real binary on private X servers, each figure
# next to its floor. Prints the table and writes it to bench/RESULTS.md.
bench:
	scripts/install-deps.sh --bench
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DQUORBEL_TESTS=OFF
	cmake --build build-bench -j $(JOBS)
	/usr/bin/python3 bench/run_bench.py --build build-bench --out bench/RESULTS.md

clean:
	rm -rf $(BUILD) $(SANBUILD)

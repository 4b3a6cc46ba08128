# make demo     install what is missing, build the tessel command alone, run the demo
# make test     the whole suite in a Release build and under ASan + UBSan, the examples
#               against the installed tree, and each fuzzer for FUZZ_SECONDS
# make fuzz     the fuzzers alone; a longer run: make fuzz FUZZ_SECONDS=600
# make bench    build and run the benchmarks
# make install  build and install into PREFIX (default /usr/local)

BUILD        ?= build
ASAN_BUILD   ?= build-asan
FUZZ_BUILD   ?= build-fuzz
JOBS         ?= $(shell nproc)
PREFIX       ?= /usr/local
FUZZ_SECONDS ?= 10
CTEST_ARGS   ?= --output-on-failure

# Quiet: no directory messages from make, no progress chatter from CMake's
# configure step (its warnings and errors still show).
MAKEFLAGS += --no-print-directory
configure = cmake -S . -B $(1) -G Ninja --log-level=WARNING $(2) > /dev/null

.PHONY: all setup build build-asan demo test test-release test-asan test-fuzz fuzz bench install clean

all: build

setup:
	@scripts/setup-debian

$(BUILD)/CMakeCache.txt:
	@echo "configuring $(BUILD) (Release)"
	@$(call configure,$(BUILD),-DCMAKE_BUILD_TYPE=Release)

$(ASAN_BUILD)/CMakeCache.txt:
	@echo "configuring $(ASAN_BUILD) (Debug, ASan + UBSan)"
	@$(call configure,$(ASAN_BUILD),-DCMAKE_BUILD_TYPE=Debug -DTESSEL_SANITIZE=ON)

$(FUZZ_BUILD)/CMakeCache.txt:
	@echo "configuring $(FUZZ_BUILD) (clang, libFuzzer, ASan + UBSan)"
	@$(call configure,$(FUZZ_BUILD),-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DTESSEL_FUZZ=ON)

build: setup $(BUILD)/CMakeCache.txt
	@cmake --build $(BUILD) -j$(JOBS)

build-asan: setup $(ASAN_BUILD)/CMakeCache.txt
	@cmake --build $(ASAN_BUILD) -j$(JOBS)

# Only what the demo needs: libtessel, the simulators and the tessel command.
demo: setup $(BUILD)/CMakeCache.txt
	@echo "building the tessel command ($(JOBS) jobs)"
	@cmake --build $(BUILD) -j$(JOBS) --target tessel-cli
	@$(BUILD)/tools/tessel demo

test-release: build
	@cd $(BUILD) && ctest -j$(JOBS) $(CTEST_ARGS)

test-asan: build-asan
	@cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
		ctest -j$(JOBS) $(CTEST_ARGS)

# Each fuzzer for FUZZ_SECONDS from the seeds in fuzz/corpus/, under ASan + UBSan.
test-fuzz fuzz: setup
	@if ! command -v clang++ > /dev/null; then \
		echo "fuzz: skipped, clang++ is not installed (scripts/setup-debian installs it)"; \
	else \
		$(MAKE) $(FUZZ_BUILD)/CMakeCache.txt && \
		cmake -S . -B $(FUZZ_BUILD) -DTESSEL_FUZZ_SECONDS=$(FUZZ_SECONDS) > /dev/null && \
		cmake --build $(FUZZ_BUILD) -j$(JOBS) && \
		(cd $(FUZZ_BUILD) && ctest -j$(JOBS) $(CTEST_ARGS)); \
	fi

test: test-release test-asan test-fuzz

bench: build
	@$(BUILD)/bench/tessel-bench

install: setup $(BUILD)/CMakeCache.txt
	@cmake --build $(BUILD) -j$(JOBS) --target tessel-cli
	@cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)

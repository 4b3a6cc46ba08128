# make demo   install what is missing, build, run the demo on simulated instruments
# make test   install what is missing, build, run the suite normally and under ASan+UBSan
# make bench  build and run the benchmarks

BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
CTEST_ARGS ?= --output-on-failure

.PHONY: all setup build build-asan demo test test-normal test-asan bench clean

all: build

setup:
	@scripts/setup-debian

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

$(ASAN_BUILD)/CMakeCache.txt:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTESSEL_SANITIZE=ON

build: setup $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j$(JOBS)

build-asan: setup $(ASAN_BUILD)/CMakeCache.txt
	cmake --build $(ASAN_BUILD) -j$(JOBS)

demo: build
	$(BUILD)/tools/tessel demo

test-normal: build
	cd $(BUILD) && ctest -j$(JOBS) $(CTEST_ARGS)

test-asan: build-asan
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 ctest -j$(JOBS) $(CTEST_ARGS)

test: test-normal test-asan

bench: build
	$(BUILD)/bench/tessel-bench

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)

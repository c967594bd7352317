# Thin wrapper over CMake + Ninja.
BUILD        ?= build
STRESS_BUILD ?= build-stress
BENCH_BUILD  ?= build-bench
JOBS         ?= $(shell nproc)

.PHONY: all build test run bench clean stress

all: build

build:
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

# Every suite: the release build (unit tests and program cases), then the collector-stress build
# under the sanitizers.
test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	@$(MAKE) --no-print-directory stress

stress:
	@cmake -S . -B $(STRESS_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	       -DPELLUX_GC_STRESS=ON -DPELLUX_SANITIZE=ON >/dev/null
	@cmake --build $(STRESS_BUILD) -j $(JOBS)
	cd $(STRESS_BUILD) && ctest --output-on-failure -j $(JOBS)

run: build
	@./examples/run.sh $(BUILD)/pellux

bench:
	@cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DPELLUX_BENCH=ON >/dev/null
	@cmake --build $(BENCH_BUILD) -j $(JOBS)
	@python3 bench/run.py --pellux $(BENCH_BUILD)/pellux --micro $(BENCH_BUILD)/pellux_bench

clean:
	rm -rf $(BUILD) $(STRESS_BUILD) $(BENCH_BUILD)

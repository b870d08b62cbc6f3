# make run   - install missing packages, build, start the launcher
# make test  - install missing packages, build, run the whole suite
# make asan / make tsan - the suite in sanitizer builds
# make bench - build and run the benchmarks
# make fuzz  - build the libFuzzer targets with clang
# make soak  - the long fault-injection run (label soak; SOAK_BUILD=build-asan
#              for the sanitizer build, TAV_SOAK_SECONDS to change its length)

BUILD_DIR ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
CTEST_FLAGS ?= --output-on-failure -j $(JOBS)
XVFB := xvfb-run -a -s "-screen 0 1280x1024x24"

.PHONY: all deps configure build run test asan tsan bench fuzz soak clean

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD_DIR)/build.ninja:
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

configure: deps $(BUILD_DIR)/build.ninja

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@bash scripts/run-launcher.sh $(BUILD_DIR)

test: build
	$(XVFB) ctest --test-dir $(BUILD_DIR) $(CTEST_FLAGS) -LE soak

asan: deps
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAV_SANITIZER=asan -DTAV_BUILD_BENCH=OFF
	cmake --build build-asan -j $(JOBS)
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  $(XVFB) ctest --test-dir build-asan $(CTEST_FLAGS) -LE soak

# The Java VM and AWT are not instrumented, so the sanitizer cannot see their
# synchronisation and reports every hand-over through Java: tests that run a
# VM (label jvm) are left out here, as are the end-to-end runs of the whole
# program (e2e) and the install checks; they run in the other builds.
tsan: deps
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAV_SANITIZER=tsan -DTAV_BUILD_BENCH=OFF
	cmake --build build-tsan -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/tsan.supp \
	  $(XVFB) ctest --test-dir build-tsan $(CTEST_FLAGS) -LE 'jvm|soak|e2e|install'

bench: build
	@for b in $(BUILD_DIR)/bin/bench_*; do echo "== $$b"; $$b; done

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DTAV_SANITIZER=asan -DTAV_BUILD_FUZZ=ON -DTAV_BUILD_BENCH=OFF
	cmake --build build-fuzz -j $(JOBS)

# Builds the soak program in SOAK_BUILD (configured like `make build`, or
# like `make asan` when it is build-asan) and runs it alone.
SOAK_BUILD ?= $(BUILD_DIR)
soak: deps
	@if [ "$(SOAK_BUILD)" = build-asan ]; then \
	  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAV_SANITIZER=asan -DTAV_BUILD_BENCH=OFF; \
	elif [ ! -f $(SOAK_BUILD)/build.ninja ]; then \
	  cmake -S . -B $(SOAK_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS); \
	fi
	cmake --build $(SOAK_BUILD) -j $(JOBS) --target tav_soak_tests
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(SOAK_BUILD) --output-on-failure -V -L soak

clean:
	rm -rf $(BUILD_DIR) build-asan build-tsan build-fuzz

# Set-up: `make run` (the demo) and `make test` (every test). See README.md.
BUILD      ?= build
GENERATOR  ?= Ninja
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
CTEST_ARGS ?=
FUZZ_SECONDS ?= 60
FUZZ_RUNS  ?=

.PHONY: all deps configure build test run sanitize tsan bench fuzz fuzz-build soak farm clean

all: build

deps:
	@./scripts/deps.sh

$(BUILD)/build.ninja:
	@cmake -S . -B $(BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

configure: $(BUILD)/build.ninja

build: deps configure
	@cmake --build $(BUILD) -j $(JOBS)

test: deps build fuzz-build
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) $(CTEST_ARGS)
	@ctest --test-dir $(BUILD)/fuzz --output-on-failure -L libfuzzer $(CTEST_ARGS)

run: deps build
	@./scripts/run-demo.sh $(BUILD)

# AddressSanitizer + UndefinedBehaviorSanitizer build of everything, then every test.
sanitize: deps
	@cmake -S . -B $(BUILD)/sanitize -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=address >/dev/null
	@cmake --build $(BUILD)/sanitize -j $(JOBS)
	@ctest --test-dir $(BUILD)/sanitize --output-on-failure -j $(JOBS) -LE web $(CTEST_ARGS)

# ThreadSanitizer build; runs the tests labelled "concurrency".
tsan: deps
	@cmake -S . -B $(BUILD)/tsan -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=thread >/dev/null
	@cmake --build $(BUILD)/tsan -j $(JOBS)
	@TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
	  ctest --test-dir $(BUILD)/tsan --output-on-failure -j $(JOBS) -L concurrency $(CTEST_ARGS)

# libFuzzer targets (clang, AddressSanitizer + UBSan): `make fuzz` runs each for
# FUZZ_SECONDS seconds (and at most FUZZ_RUNS inputs when given); `make test` runs
# each briefly.
fuzz-build: deps
	@CC=clang CXX=clang++ cmake -S . -B $(BUILD)/fuzz -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DQV_SANITIZE=address -DQV_FUZZ=ON >/dev/null
	@cmake --build $(BUILD)/fuzz -j $(JOBS) --target fuzz_targets

fuzz: fuzz-build
	@./scripts/run-fuzz.sh $(BUILD)/fuzz $(FUZZ_SECONDS) $(FUZZ_RUNS)

bench: deps build
	@ctest --test-dir $(BUILD) -R '^npm_install$$' >/dev/null || true  # the grid's jar for farm_bench
	@./scripts/run-benchmarks.sh $(BUILD)

# The soak against the sample application (about an hour; counts from SOAK_COMMANDS,
# SOAK_ACTIONS, SOAK_CYCLES, SOAK_TAPS): not part of `make test`.
soak: deps configure
	@./scripts/run-soak.sh $(BUILD)

# A device farm on this machine until interrupted: DEVICES sample applications,
# each behind its qvdriver, under one Selenium Grid hub on 127.0.0.1.
DEVICES ?= 2
farm: deps build
	@ctest --test-dir $(BUILD) -R '^npm_install$$' >/dev/null
	@./scripts/farm.sh --build $(BUILD) --devices $(DEVICES)

clean:
	@rm -rf $(BUILD)

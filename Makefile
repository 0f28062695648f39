# A thin wrapper over CMake: `make demo` builds and runs the tools on the examples,
# `make test` builds and runs the whole test suite.
BUILD ?= build
WERROR ?= OFF
CMAKE_FLAGS ?=

FUZZ_SECONDS ?= 60

.PHONY: all build demo test sanitize fuzz bench clean

all: build

build:
	@sh scripts/check-prerequisites.sh $(if $(filter test,$(MAKECMDGOALS)),test)
	@cmake -S . -B $(BUILD) -G Ninja -DQUAYWATCH_WERROR=$(WERROR) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD)

demo: build
	@sh examples/demo.sh $(BUILD)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j 2

# Measures the tools against the parse floor; not part of the test suite.
bench: build
	@python3 bench/run.py $(BUILD)

# The whole suite again, built with AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize:
	@$(MAKE) --no-print-directory test BUILD=$(BUILD)-sanitize \
		CMAKE_FLAGS="-DQUAYWATCH_SANITIZE=ON $(CMAKE_FLAGS)"

# Each libFuzzer target for FUZZ_SECONDS seconds, built with clang.
fuzz:
	@command -v clang++ >/dev/null 2>&1 || { echo "quaywatch: clang++ is missing: install the Debian packages clang and libclang-rt-14-dev" >&2; exit 1; }
	@CC=clang CXX=clang++ cmake -S . -B $(BUILD)-fuzz -G Ninja -DQUAYWATCH_FUZZ=ON \
		-DQUAYWATCH_TESTS=OFF -DQUAYWATCH_WERROR=$(WERROR) >/dev/null
	@cmake --build $(BUILD)-fuzz
	@bash fuzz/run.sh $(BUILD)-fuzz $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) $(BUILD)-sanitize $(BUILD)-fuzz

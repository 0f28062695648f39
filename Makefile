# A thin wrapper over CMake: `make demo` builds and runs the tools on the examples,
# `make test` builds and runs the whole test suite.
BUILD ?= build
WERROR ?= OFF
CMAKE_FLAGS ?=

.PHONY: all build demo test clean

all: build

build:
	@sh scripts/check-prerequisites.sh $(if $(filter test,$(MAKECMDGOALS)),test)
	@cmake -S . -B $(BUILD) -G Ninja -DQUAYWATCH_WERROR=$(WERROR) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD)

demo: build
	@sh examples/demo.sh $(BUILD)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j 2

clean:
	rm -rf $(BUILD)

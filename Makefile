# Velkor: `make test` installs the dependencies, builds and runs every test.

BUILD_DIR ?= build
JOBS ?= $(shell nproc)
BUILD_TYPE ?= RelWithDebInfo

.PHONY: all deps configure build test run clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@if [ ! -f $(BUILD_DIR)/build.ninja ]; then \
	  cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null; \
	fi

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 900

# make run: the example task without windows, its log and exit code;
# make run ARGS='...': the program with these arguments.
run: build
ifneq ($(strip $(ARGS)),)
	@$(BUILD_DIR)/bin/Velkor $(ARGS)
else
	@scripts/run-example $(BUILD_DIR)
endif

clean:
	rm -rf $(BUILD_DIR)

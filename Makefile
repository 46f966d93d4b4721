# The two commands of the README: `make run` and `make test`.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
XVFB := $(if $(DISPLAY),,xvfb-run -a -s "-screen 0 1920x1080x24")

.PHONY: run test build deps configure clean demo fuzz

deps:
	@scripts/install-deps

$(BUILD_DIR)/build.ninja:
	cmake -S . -B $(BUILD_DIR) -G Ninja

configure: deps $(BUILD_DIR)/build.ninja

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

# The demo show is made once, in the build folder.
demo: build
	scripts/make-demo-media $(BUILD_DIR)

run: demo
	$(BUILD_DIR)/app/kavio $(BUILD_DIR)/demo/Demo.kavio2

test: build
	cd $(BUILD_DIR) && $(XVFB) ctest --output-on-failure -j $(JOBS) --timeout 600

clean:
	rm -rf $(BUILD_DIR)

# Not one of the two main commands: builds the libFuzzer targets with clang in its own folder and
# runs each for FUZZ_TIME seconds (see fuzz/README.md).
FUZZ_BUILD_DIR ?= build-fuzz
FUZZ_TIME ?= 60
FUZZ_TARGETS ?=

fuzz:
	@scripts/install-deps fuzz
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD_DIR) -G Ninja -DKAVIO_BUILD_FUZZERS=ON -DKAVIO_BUILD_TESTS=OFF
	cmake --build $(FUZZ_BUILD_DIR) -j $(JOBS) --target fuzzers
	fuzz/run-fuzzers $(FUZZ_BUILD_DIR) $(FUZZ_TIME) $(FUZZ_TARGETS)

# The two commands of the README: `make run` and `make test`.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
XVFB := $(if $(DISPLAY),,xvfb-run -a -s "-screen 0 1920x1080x24")

.PHONY: run test build deps configure clean

deps:
	@scripts/install-deps

$(BUILD_DIR)/build.ninja:
	cmake -S . -B $(BUILD_DIR) -G Ninja

configure: deps $(BUILD_DIR)/build.ninja

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	$(BUILD_DIR)/app/kavio

test: build
	cd $(BUILD_DIR) && $(XVFB) ctest --output-on-failure -j $(JOBS) --timeout 600

clean:
	rm -rf $(BUILD_DIR)

# Entry points: `make run` and `make test`. Both install missing Debian
# packages first, then configure and build into build/.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps configure build run test bench clean format

all: build

deps:
	@sh scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@sh scripts/run.sh $(BUILD_DIR)/commcheck

test: build
	@cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

bench: build
	@$(BUILD_DIR)/bench/bench_loopback

format:
	@git ls-files '*.cpp' '*.h' | grep -v Cp932Table | xargs clang-format -i

clean:
	@rm -rf $(BUILD_DIR)

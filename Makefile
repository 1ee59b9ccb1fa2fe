# Entry points: `make run`, `make test`, `make bench`, `make demo`,
# `make demo-ser2net`, `make package` and `make install`. Each installs the
# missing Debian packages first, then configures and builds.
BUILD_DIR ?= build
SAN_DIR ?= build-san
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
# Seconds each fuzz target runs within `make test`.
FUZZ_SECONDS ?= 15
FUZZ_TARGETS := fuzz_codec fuzz_cp932 fuzz_first_field fuzz_telnet
# Where `make install` puts the program; e.g. make install PREFIX=$HOME/.local
PREFIX ?= /usr/local

export QT_QPA_PLATFORM ?= offscreen

.PHONY: all deps configure build run test test-plain test-sanitized fuzz-smoke bench soak clean format \
	demo demo-ser2net install package screenshots

all: build

deps:
	@sh scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@QT_QPA_PLATFORM= sh scripts/run.sh $(BUILD_DIR)/commcheck

# Two windows joined by a virtual null-modem cable, to try the check without
# hardware.
demo: build
	@QT_QPA_PLATFORM= sh scripts/demo.sh $(BUILD_DIR)/commcheck

# The same with each end of the cable behind Debian's ser2net on 127.0.0.1:
# the windows open rfc2217:// ports.
demo-ser2net: build
	@QT_QPA_PLATFORM= sh scripts/demo.sh --ser2net $(BUILD_DIR)/commcheck

# Both programs, their manual pages, the desktop entry, the icons and the
# AppStream metadata, under $(PREFIX).
install: build
	@cmake --install $(BUILD_DIR) --prefix $(PREFIX)

# The Debian package of both programs, $(BUILD_DIR)/commcheck_<version>_<arch>.deb,
# from the same install rules under /usr: its metadata validated first, the
# package checked by lintian after (any error or warning fails).
package: build
	@sh scripts/install-deps.sh package
	@cd $(BUILD_DIR) && ctest -R '^PackageMetadata$$' --output-on-failure
	@rm -f $(BUILD_DIR)/commcheck_*.deb
	@cd $(BUILD_DIR) && cpack -G DEB
	@lintian --display-info --fail-on error,warning $(BUILD_DIR)/commcheck_*.deb

# Refreshes the pictures of the window in docs/.
screenshots: configure
	@QT_QPA_PLATFORM= sh scripts/screenshots.sh $(BUILD_DIR)

# Every test: the plain build, the same tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, and a short run of each fuzz target.
test: test-plain test-sanitized fuzz-smoke

test-plain: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) -LE soak

$(SAN_DIR)/build.ninja: deps
	@cmake -S . -B $(SAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DCMAKE_CXX_COMPILER=clang++ -DCOMMCHECK_SANITIZE=ON -DCOMMCHECK_FUZZ=ON >/dev/null

test-sanitized: $(SAN_DIR)/build.ninja
	@cmake --build $(SAN_DIR) -j $(JOBS)
	@cd $(SAN_DIR) && \
		ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
		UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS) -LE soak

# The memory-growth runs (ctest label "soak"), a few minutes: both modes of
# bench_soak, on the plain build.
soak: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -L soak

fuzz-smoke: test-sanitized
	@bash scripts/fuzz.sh $(SAN_DIR) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# Runs every benchmark and prints one table of their figures; fails only when
# a benchmark cannot run. BENCH_IDLE_SECONDS: how long each idle station is
# watched.
BENCH_IDLE_SECONDS ?= 60

bench: configure
	@sh scripts/install-deps.sh bench
	@cmake -S . -B $(BUILD_DIR) -DCOMMCHECK_BENCH=ON >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS)
	@bash bench/run_all.sh $(BUILD_DIR) $(BENCH_IDLE_SECONDS)

format:
	@git ls-files '*.cpp' '*.h' | grep -v Cp932Table | xargs clang-format -i

clean:
	@rm -rf $(BUILD_DIR) $(SAN_DIR)

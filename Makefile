# Every target sets up what it needs on a fresh Debian 12 machine: make demo, make test.
BUILD_DIR := build
OUT_DIR   := out
CLI       := $(BUILD_DIR)/tavrix-cli
SAMPLE    := samples/coffee.png
MODES     := normal qfli dfli xs-dfli

.PHONY: all deps build test test-sanitize demo bench install check-sanitize fuzz clean

all: build

deps:
	tools/install-deps.sh

build: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD_DIR) -j2

# The whole suite, then the core, I/O and command-line tests once more under the sanitizers.
test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j2
	$(MAKE) --no-print-directory test-sanitize

demo: build
	mkdir -p $(OUT_DIR)
	@for mode in $(MODES); do \
	  echo "$(CLI) --mode $$mode --prg $(OUT_DIR)/coffee-$$mode.prg --png $(OUT_DIR)/coffee-$$mode.png $(SAMPLE)"; \
	  $(CLI) --quiet --mode $$mode --prg $(OUT_DIR)/coffee-$$mode.prg \
	    --png $(OUT_DIR)/coffee-$$mode.png $(SAMPLE) || exit 1; \
	done
	@echo "Written:"
	@for mode in $(MODES); do \
	  for ext in prg png; do \
	    file=$(OUT_DIR)/coffee-$$mode.$$ext; \
	    printf '  %-24s %6s bytes\n' $$file $$(stat -c %s $$file); \
	  done; \
	done

# Per-stage and whole-conversion times of the plain and the fast kernels; the last line
# is the headline case (XS-DFLI, every option highest, Floyd-Steinberg, 327x207 source).
bench: build
	$(BUILD_DIR)/tavrix-bench

# Builds with AddressSanitizer and UndefinedBehaviorSanitizer in build-sanitize/.
# test-sanitize (part of make test): tavrix-tests, which holds every test but the window's
# and the emulator's. check-sanitize: everything, the window's tests included.
SANITIZE_CONFIGURE := cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRIX_SANITIZE=ON
test-sanitize: deps
	$(SANITIZE_CONFIGURE)
	cmake --build build-sanitize -j2 --target tavrix-tests
	ctest --test-dir build-sanitize --output-on-failure -j2 -LE emulator -E '^tavrix-gui-tests$$'

check-sanitize: deps
	$(SANITIZE_CONFIGURE)
	cmake --build build-sanitize -j2
	ctest --test-dir build-sanitize --output-on-failure -j2 -LE emulator

# libFuzzer with AddressSanitizer and UndefinedBehaviorSanitizer (clang): builds build-fuzz/,
# writes the seed corpus and runs each fuzzer for FUZZ_TIME seconds, one after the other.
# The corpus grows in build-fuzz/fuzz-corpus/; what a fuzzer finds lands in build-fuzz/fuzz-crashes/
# and fails the target.
FUZZ_TIME ?= 60
fuzz:
	tools/install-deps.sh fuzz
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVRIX_FUZZ=ON
	cmake --build build-fuzz -j2 --target convert_fuzzer settings_fuzzer make-fuzz-corpus
	tools/make-fuzz-corpus build-fuzz
	tools/run-fuzzers build-fuzz $(FUZZ_TIME)

# The two programs, the desktop entry and the icon under PREFIX (default /usr/local).
PREFIX ?= /usr/local
install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD_DIR) build-sanitize build-fuzz $(OUT_DIR)

# Set-up and everyday commands. `make demo` and `make test` install what they need.
BUILD ?= build
JOBS ?= 2
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
PACKAGES := $(shell grep -v '^\#' packages.txt)
PREFIX ?= /usr/local

CLANG_BUILD ?= build-clang
CLANG_CXX ?= clang++-14
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?=

.PHONY: all deps configure build demo test bench install package docs clean clang clang-deps fuzz

all: build

# Installs the Debian packages named that are missing; does nothing when all are there.
# postfix is installed unconfigured ("No configuration"): no system mail server
# starts on port 25; the tests start their own with a configuration of their own.
define install_missing
	@missing=$$(for p in $(1); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:" $$missing; \
	  echo 'postfix postfix/main_mailer_type select No configuration' | $(SUDO) debconf-set-selections; \
	  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	fi
endef

# The packages of packages.txt.
deps:
	$(call install_missing,$(PACKAGES))

# clang and its sanitizer and fuzzer runtimes, for `make clang` and `make fuzz`.
clang-deps: deps
	$(call install_missing,clang-14 libclang-rt-14-dev)

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja

configure: $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

demo: deps build
	examples/demo/run.sh $(BUILD)/bin/velarion

test: deps build
	cd $(BUILD) && ctest -j $(JOBS) --output-on-failure

# Installs the programs, the service unit, the desktop entry, the sample installation and the
# documentation below PREFIX (DESTDIR is honoured): `make && sudo make install`.
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix $(PREFIX)

# Builds the Debian package $(BUILD)/velarion_<version>_<arch>.deb.
package: deps build
	cd $(BUILD) && cpack -G DEB

# Remakes the manual's pictures (docs/pictures/) from docs/examples/ with velarion-compose.
docs: deps configure
	cmake --build $(BUILD) -j $(JOBS) --target velarion-compose
	python3 docs/pictures.py --compose $(BUILD)/bin/velarion-compose

# The whole program built with clang as well (its own build folder; no tests run).
clang: clang-deps
	cmake -S . -B $(CLANG_BUILD) -G Ninja -DCMAKE_CXX_COMPILER=$(CLANG_CXX)
	cmake --build $(CLANG_BUILD) -j $(JOBS)

# The fuzz targets with libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer
# (clang, own build folder), each run FUZZ_SECONDS in turn (FUZZ_TARGETS: only those).
fuzz: clang-deps
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_CXX_COMPILER=$(CLANG_CXX) -DVELARION_FUZZ=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers
	tests/fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

bench: deps configure
	cmake --build $(BUILD) -j $(JOBS) --target benchmarks
	bench/run.sh $(BUILD)

clean:
	rm -rf $(BUILD)

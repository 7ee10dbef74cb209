# Qelvaro: the front door. Every target installs what it needs first.
#   make run    build and open the window
#   make screenshot  render the window offscreen to build/qelvaro.png
#   make test   build and run every test (the tour included)
#   make tour   the whole journey offscreen, pictures in build/tour
#   make install  install into PREFIX (default ~/.local)
#   make bench  benchmarks (Release build)
#   make fuzz   libFuzzer targets, 60 s each (clang)
#   make asan   AddressSanitizer + UBSan build running the whole suite (clang)

SHELL := /bin/bash
JOBS ?= $(shell nproc)
BUILD ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
BENCH_BUILD ?= build-bench
FUZZ_SECONDS ?= 60
PREFIX ?= $(HOME)/.local

# Debian 12 packages the project builds, tests and runs with.
DEB_PACKAGES := \
	build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev llvm-14 \
	qt6-base-dev libgl-dev \
	libcurl4-openssl-dev ca-certificates libpcre2-dev libjpeg62-turbo-dev libcpp-httplib-dev \
	libgtest-dev libgmock-dev googletest libbenchmark-dev \
	fonts-wqy-microhei xvfb xauth

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: deps configure build test tour install run screenshot bench fuzz asan clean

deps:
	@missing=$$(for p in $(DEB_PACKAGES); do \
	    dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed$$' || echo $$p; \
	  done); \
	if [ -n "$$missing" ]; then \
	  echo "installing:" $$missing; \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get update -qq && \
	  $(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing; \
	fi

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# qelvaro-demo makes the journey on its own: search, pick the first song,
# download it; a picture of each step and the MP3 land in $(BUILD)/tour.
tour: configure
	cmake --build $(BUILD) -j $(JOBS) --target qelvaro-demo
	rm -rf $(BUILD)/tour
	QT_QPA_PLATFORM=offscreen $(BUILD)/demo/qelvaro-demo --tour $(BUILD)/tour

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# The window against the demo music service (qelvaro-demo), so that it works
# without the network.
run: configure
	cmake --build $(BUILD) -j $(JOBS) --target qelvaro-demo qelvaro
	@if [ -z "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	  echo "No display to open the window on; 'make screenshot' renders it to $(BUILD)/qelvaro.png."; \
	else \
	  $(BUILD)/demo/qelvaro-demo; \
	fi

screenshot: configure
	cmake --build $(BUILD) -j $(JOBS) --target qelvaro-screenshot
	QT_QPA_PLATFORM=offscreen $(BUILD)/app/qelvaro-screenshot $(BUILD)/qelvaro.png
	@echo "wrote $(BUILD)/qelvaro.png"

asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQELVARO_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

bench: deps
	cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DQELVARO_BENCH=ON
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	@for b in $(BENCH_BUILD)/bench/*_bench; do echo "== $$b"; QT_QPA_PLATFORM=offscreen $$b || exit 1; done

fuzz: deps
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQELVARO_FUZZ=ON
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	FUZZ_SECONDS=$(FUZZ_SECONDS) fuzz/run-all $(FUZZ_BUILD)/fuzz

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(BENCH_BUILD)

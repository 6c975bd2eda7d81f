# Set-up and everyday commands. Everything built lands in build/ (programs and sync.ocx in build/bin/).
BUILD    ?= build
SANITIZE ?= build/sanitize
JOBS     ?= $(shell nproc)
FUZZ_SECONDS ?= 20

.PHONY: all deps configure build test demo bench sanitize clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	@scripts/demo $(BUILD)

bench: build
	@scripts/bench $(BUILD)

# A separate ASan+UBSan build (clang) running every test, then each fuzz target for a bounded time.
sanitize: deps
	@cmake -S . -B $(SANITIZE) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_C_FLAGS_DEBUG="-O1 -g" -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
	  -DCALMORA_SANITIZE=ON -DCALMORA_FUZZ=ON >/dev/null
	@cmake --build $(SANITIZE) -j $(JOBS)
	@cd $(SANITIZE) && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j $(JOBS) -LE no-sanitize
	@scripts/run-fuzzers $(SANITIZE) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD)

# Thin wrappers over CMake and CTest.
#   make run                 install packages, build (Release), start Arcavo's window
#   make test                install packages, build (Debug), run every CTest test
#   make test SANITIZE=address   the same under ASan+UBSan
#   make test SANITIZE=thread    the non-GUI libraries and their tests under TSan
#   make test WERROR=1           warnings are errors (CI)
#   make bench               side-by-side benchmarks against peer tools (Release): the engine
#                            (bench/run.py), AES-256 against no encryption and 7zz -mem=AES256
#                            (bench/aes.py), and an unattended job of 100,500 tiny files through
#                            the program (bench/tiny_files.py), and the emulated disc drive's
#                            WRITE(10) path against dd (bench/disc_write.py), the repair of
#                            damaged archives and the legacy decoders against zip -FF and unzip -t
#                            (bench/repair.py), and ISO images against genisoimage and xorriso
#                            (bench/iso_build.py), clearing a disk against rm -rf
#                            (bench/deltree.py), the search over a folder of archives
#                            against zipinfo (bench_global_search) and a burn to an emulated
#                            DVD+RW against genisoimage and at a throttled speed (bench/burn.py),
#                            a 1 GB backup staged over three emulated CD-Rs against zip -s and
#                            genisoimage per part (bench/disc_staging.py), and extracting
#                            bzip2, LZMA, Deflate64, Zstandard and XZ entries against 7zz x
#                            (bench/decoders.py)
#   make fuzz                build the libFuzzer targets with clang (FUZZ_SECONDS per target)
#   make package             build (Release) the Debian package arcavo_<version>_<arch>.deb here

SANITIZE ?=
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
CTEST_ARGS ?=
WERROR ?=

ifeq ($(SANITIZE),)
TEST_DIR := build/debug
else
TEST_DIR := build/debug-$(SANITIZE)
endif
TEST_FLAGS := -DARCAVO_SANITIZE=$(SANITIZE)
ifeq ($(SANITIZE),thread)
TEST_FLAGS += -DARCAVO_GUI=OFF
endif
ifneq ($(WERROR),)
TEST_FLAGS += -DARCAVO_WERROR=ON
else
TEST_FLAGS += -DARCAVO_WERROR=OFF
endif
RELEASE_DIR := build/release
FUZZ_DIR := build/fuzz

.PHONY: deps run build-release test build-test bench fuzz package clean format

deps:
	@bash scripts/install-deps

build-release: deps
	cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DARCAVO_TESTS=OFF
	cmake --build $(RELEASE_DIR) -j $(JOBS)

run: build-release
	@if [ -z "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	  echo "No display: starting Arcavo under xvfb-run"; \
	  xvfb-run -a $(RELEASE_DIR)/src/arcavo; \
	else \
	  $(RELEASE_DIR)/src/arcavo; \
	fi

build-test: deps
	cmake -S . -B $(TEST_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug $(TEST_FLAGS)
	cmake --build $(TEST_DIR) -j $(JOBS)

test: build-test
	cd $(TEST_DIR) && ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

bench: deps
	cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DARCAVO_TESTS=OFF
	cmake --build $(RELEASE_DIR) -j $(JOBS)
	python3 bench/run.py --build $(RELEASE_DIR)
	python3 bench/aes.py --build $(RELEASE_DIR)
	python3 bench/tiny_files.py --build $(RELEASE_DIR)
	python3 bench/disc_write.py --build $(RELEASE_DIR)
	python3 bench/repair.py --build $(RELEASE_DIR)
	python3 bench/iso_build.py --build $(RELEASE_DIR)
	python3 bench/deltree.py --build $(RELEASE_DIR)
	python3 bench/burn.py --build $(RELEASE_DIR)
	python3 bench/disc_staging.py --build $(RELEASE_DIR)
	python3 bench/decoders.py --build $(RELEASE_DIR)
	$(RELEASE_DIR)/bench/bench_global_search

package: build-release
	cd $(RELEASE_DIR) && cpack -G DEB
	cp $(RELEASE_DIR)/arcavo_*.deb .

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DARCAVO_FUZZ=ON -DARCAVO_TESTS=OFF -DARCAVO_GUI=OFF
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target fuzzers
	bash fuzz/run-all $(FUZZ_DIR) $(FUZZ_SECONDS)

format:
	find src tests fuzz bench -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	rm -rf build

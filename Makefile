# The two commands of the README. Each installs what it needs when missing.
JOBS ?= $(shell nproc)
RELEASE_DIR := build/release
TEST_DIR := build/test
DESIGN ?= designs/pipeline.blif

.PHONY: run test deps build-release build-test clean

deps:
	@bash scripts/install-deps.sh

build-release: deps
	cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORV_BUILD_TESTS=OFF
	cmake --build $(RELEASE_DIR) -j $(JOBS)

run: build-release
	bash scripts/run-main-job.sh $(RELEASE_DIR) $(DESIGN)

# Tests build with the sanitizers on and a light optimisation so that the
# benchmark-sized netlists stay quick.
build-test: deps
	cmake -S . -B $(TEST_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORV_SANITIZE=ON -DMORV_BUILD_BENCHMARKS=OFF \
	  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g"
	cmake --build $(TEST_DIR) -j $(JOBS)

test: build-test
	cd $(TEST_DIR) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf build

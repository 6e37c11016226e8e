# The two commands of the README. Each installs what it needs when missing.
JOBS ?= $(shell nproc)
RELEASE_DIR := build/release
TEST_DIR := build/test
DESIGN ?= designs/pipeline.blif

.PHONY: run test deps build-release build-test build-release-tests clean

deps:
	@bash scripts/install-deps.sh

build-release: deps
	cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORV_BUILD_TESTS=ON -DMORV_BUILD_BENCHMARKS=ON
	cmake --build $(RELEASE_DIR) -j $(JOBS) --target morv-fit

run: build-release
	bash scripts/run-main-job.sh $(RELEASE_DIR) $(DESIGN)

# Tests build with the sanitizers on and a light optimisation so that the
# benchmark-sized netlists stay quick; line tables only (-g1) keep file and
# line in sanitizer reports at a quarter less compile time than full -g.
build-test: deps
	cmake -S . -B $(TEST_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORV_SANITIZE=ON -DMORV_BUILD_BENCHMARKS=OFF \
	  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1"
	cmake --build $(TEST_DIR) -j $(JOBS)

# The Release configuration builds everything, benchmark programs included.
build-release-tests: deps
	cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORV_BUILD_TESTS=ON -DMORV_BUILD_BENCHMARKS=ON
	cmake --build $(RELEASE_DIR) -j $(JOBS)

# Every case in a process of its own under the sanitizers, then every test
# program whole and shuffled in both configurations.
test: build-test build-release-tests
	cd $(TEST_DIR) && ctest --output-on-failure -j $(JOBS)
	bash scripts/run-test-programs.sh $(TEST_DIR) $(JOBS)
	bash scripts/run-test-programs.sh $(RELEASE_DIR) $(JOBS)

clean:
	rm -rf build

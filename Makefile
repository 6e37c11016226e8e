# The two commands of the README. Each installs what it needs when missing.
# Every phase prints its wall and CPU time (scripts/phase.sh).
JOBS ?= $(shell nproc)
RELEASE_DIR := build/release
TEST_DIR := build/test
DESIGN ?= designs/pipeline.blif
PHASE := bash scripts/phase.sh

RELEASE_CONFIG := -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORV_BUILD_TESTS=ON -DMORV_BUILD_BENCHMARKS=ON
# Tests build with the sanitizers on and a light optimisation so that the
# benchmark-sized netlists stay quick; line tables only (-g1) keep file and
# line in sanitizer reports at a quarter less compile time than full -g. The
# benchmark programs are built in Release only.
TEST_CONFIG := -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORV_SANITIZE=ON -DMORV_BUILD_BENCHMARKS=OFF \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1"

.PHONY: run test deps build-release build-test build-release-tests clean

deps:
	@$(PHASE) "install packages" bash scripts/install-deps.sh

build-release: deps
	@$(PHASE) "build, Release: morv-fit" sh -c 'cmake -S . -B $(RELEASE_DIR) $(RELEASE_CONFIG) >/dev/null && \
	  cmake --build $(RELEASE_DIR) -j $(JOBS) --target morv-fit'

run: build-release
	@$(PHASE) "main job" bash scripts/run-main-job.sh $(RELEASE_DIR) $(DESIGN)

build-test: deps
	@$(PHASE) "build, sanitizers: everything" sh -c 'cmake -S . -B $(TEST_DIR) $(TEST_CONFIG) >/dev/null && \
	  cmake --build $(TEST_DIR) -j $(JOBS)'

# The Release configuration builds everything, benchmark programs included.
build-release-tests: deps
	@$(PHASE) "build, Release: everything" sh -c 'cmake -S . -B $(RELEASE_DIR) $(RELEASE_CONFIG) >/dev/null && \
	  cmake --build $(RELEASE_DIR) -j $(JOBS)'

# Every test program whole, its cases shuffled, once under the sanitizers and
# once in Release (tests/CMakeLists.txt).
test: build-test build-release-tests
	@$(PHASE) "tests, sanitizers" ctest --test-dir $(TEST_DIR) --output-on-failure -j $(JOBS)
	@$(PHASE) "tests, Release" ctest --test-dir $(RELEASE_DIR) --output-on-failure -j $(JOBS)

clean:
	rm -rf build

// What the build the tests run in can afford. The sanitizer build runs every
// case under ctest and again whole, several times slower than Release: there
// the benchmark-sized loops keep a small, representative share and Release
// runs them in full.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool k_small_designs_only = true;
#else
inline constexpr bool k_small_designs_only = false;
#endif

// A build instrumented for coverage: its runtime needs address space of its
// own at start and at exit, which a test that limits the program's address
// space takes away.
#if defined(MORV_COVERAGE_BUILD)
inline constexpr bool k_coverage_build = true;
#else
inline constexpr bool k_coverage_build = false;
#endif

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

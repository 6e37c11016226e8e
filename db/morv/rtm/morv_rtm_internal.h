#pragma once

// What the skew-driven engine's move files share.

// The answer of compare_oterms_for_timing for outputs timed exactly alike;
// registers share a move on it as on MORV_API::s_TIMING_EQUIVALENT.
inline constexpr int MORV_RTM_TIMING_ALIKE_EXACT = 1;

// Why check_register_compatibility refused: the secondary signals differ,
// or the timing does.
inline constexpr int MORV_RTM_WHY_SIGNALS = 1;
inline constexpr int MORV_RTM_WHY_TIMING = 2;

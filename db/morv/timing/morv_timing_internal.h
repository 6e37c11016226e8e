#pragma once

// What the timing files share: the step of the run's random state, a
// debug line, and the clamps of delays and slack ratios.

#include <algorithm>
#include <cstdint>
#include <limits>

// The linear congruential step of the run's random state.
inline constexpr uint64_t MORV_TIMING_RANDOM_MULTIPLIER = 0xAC564B05ull;

inline constexpr const char* MORV_TIMING_RECREATING_EDGES = "Recreating the TDB_NETLIST vector of edges.\n";

// A delay not computed yet: CDB_ILLEGAL_TSM_DELAY as a delay.
inline constexpr double MORV_TIMING_DELAY_NOT_COMPUTED = -2147483647.0;

// A ratio not known yet.
inline constexpr float MORV_ITE_NAN = std::numeric_limits<float>::quiet_NaN();

inline int morv_timing_clamp_to_int(int64_t value)
{
    return static_cast<int>(
        std::clamp<int64_t>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

// A slack ratio into [0, 1]; NaN becomes 1.
inline float morv_ite_clamp_ratio(double value)
{
    if (!(value < 1.0)) return 1.0f;
    if (!(value > 0.0)) return 0.0f;
    return static_cast<float>(value);
}

// The words a logged connection is written with in place of a source name.
#pragma once

inline constexpr const char* MORV_LOG_DISCONNECT_TEXT = "DISCONNECT";
inline constexpr const char* MORV_LOG_UNCHANGED_TEXT = "UNCHANGED";
inline constexpr const char* MORV_LOG_VCC_TEXT = "VCC";
inline constexpr const char* MORV_LOG_GND_TEXT = "GND";
// An inverted ground; logs of revision "6.0" mean a ground by it.
inline constexpr const char* MORV_LOG_NOT_GND_TEXT = "~GND";

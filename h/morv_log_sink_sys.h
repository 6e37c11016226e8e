#pragma once
// The shared containers print their statistics lines through the
// component's leveled logger, which sits above them: the logger hands its
// print routine to this sink when it is created, so that nothing here
// depends on the component. Lines printed before that are dropped.

#include <cstdarg>

using MORV_LOG_SINK_FN = void (*)(int level, const char* format, va_list args);

inline MORV_LOG_SINK_FN& morv_log_sink()
{
    static MORV_LOG_SINK_FN s_sink = nullptr;
    return s_sink;
}

#if defined(__GNUC__)
inline void morv_sink_print(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
#endif

inline void morv_sink_print(int level, const char* format, ...)
{
    MORV_LOG_SINK_FN sink = morv_log_sink();
    if (sink == nullptr) return;
    va_list args;
    va_start(args, format);
    sink(level, format, args);
    va_end(args);
}

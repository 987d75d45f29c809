// OS services the plug-in calls by their Windows names, provided on Linux.
//
// Only what the plug-in uses is here. Each function keeps its published
// signature and meaning; the comment says how this platform answers it.
#pragma once

#include <cstdint>

extern "C" {

typedef int BOOL;

typedef union _LARGE_INTEGER {
    struct {
        std::uint32_t LowPart;
        std::int32_t HighPart;
    } u;
    std::int64_t QuadPart;
} LARGE_INTEGER;

// CLOCK_MONOTONIC in nanoseconds. Always succeeds (returns non-zero).
BOOL QueryPerformanceCounter(LARGE_INTEGER* count);
// 1e9 ticks per second, matching QueryPerformanceCounter.
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);

}

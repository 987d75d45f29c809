#include "os_services.h"

#include <ctime>

extern "C" BOOL QueryPerformanceCounter(LARGE_INTEGER* count)
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    count->QuadPart = std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
    return 1;
}

extern "C" BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency)
{
    frequency->QuadPart = 1'000'000'000;
    return 1;
}

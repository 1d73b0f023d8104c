// The test binary's own clock_gettime(): CLOCK_REALTIME reads shifted by
// realtime_shift_sec, as if the wall clock had been set (NTP, RTC, date -s)
// after any deadline on it was taken.  Other clocks are untouched.
#pragma once

#include <atomic>

extern std::atomic<long> realtime_shift_sec;

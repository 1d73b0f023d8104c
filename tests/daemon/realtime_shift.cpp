#include "realtime_shift.h"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

std::atomic<long> realtime_shift_sec{0};

// Defined in the executable, so it wins over the C library's for every
// caller that goes through the dynamic symbol (the code under test does).
extern "C" int clock_gettime(clockid_t clock, struct timespec *now) noexcept
{
	int rc = static_cast<int>(syscall(SYS_clock_gettime, clock, now));
	if (rc == 0 && clock == CLOCK_REALTIME)
		now->tv_sec += realtime_shift_sec.load();
	return rc;
}

// A counting semaphore whose timed wait takes its deadline on
// CLOCK_MONOTONIC, so that setting the wall clock (NTP, RTC, `date -s`)
// neither shortens nor stretches a wait.  sem_timedwait() only knows
// CLOCK_REALTIME and sem_clockwait() exists in glibc alone; a mutex and a
// condition variable bound to the monotonic clock work on glibc and uClibc
// (NPTL) alike.
#pragma once

#include <pthread.h>
#include <stdint.h>
#include <time.h>

struct monotonic_semaphore {
	pthread_mutex_t lock;
	pthread_cond_t posted;  // waits on CLOCK_MONOTONIC
	unsigned count;
};

// Each returns 0, or -1 with errno set, like their sem_* counterparts.
int monotonic_sem_init(monotonic_semaphore *sem, unsigned value);
void monotonic_sem_destroy(monotonic_semaphore *sem);
int monotonic_sem_post(monotonic_semaphore *sem);  // EOVERFLOW at INT_MAX
// Takes one post, waiting until `deadline` (absolute, CLOCK_MONOTONIC) if
// there is none; ETIMEDOUT when it passes, EINVAL for a malformed deadline.
// A pending post is taken even when the deadline has already passed.
int monotonic_sem_timedwait(monotonic_semaphore *sem, const timespec *deadline);

// The CLOCK_MONOTONIC time `ms` milliseconds from now.
timespec monotonic_deadline_in(long ms);
// CLOCK_MONOTONIC in milliseconds.
int64_t monotonic_now_ms();

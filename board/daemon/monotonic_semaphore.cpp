#include "monotonic_semaphore.h"

#include <errno.h>
#include <limits.h>

int monotonic_sem_init(monotonic_semaphore *sem, unsigned value)
{
	pthread_condattr_t attr;
	int rc = pthread_condattr_init(&attr);
	if (rc == 0) {
		rc = pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
		if (rc == 0)
			rc = pthread_cond_init(&sem->posted, &attr);
		pthread_condattr_destroy(&attr);
	}
	if (rc != 0) {
		errno = rc;
		return -1;
	}
	rc = pthread_mutex_init(&sem->lock, nullptr);
	if (rc != 0) {
		pthread_cond_destroy(&sem->posted);
		errno = rc;
		return -1;
	}
	sem->count = value;
	return 0;
}

void monotonic_sem_destroy(monotonic_semaphore *sem)
{
	pthread_cond_destroy(&sem->posted);
	pthread_mutex_destroy(&sem->lock);
}

int monotonic_sem_post(monotonic_semaphore *sem)
{
	pthread_mutex_lock(&sem->lock);
	if (sem->count >= INT_MAX) {
		pthread_mutex_unlock(&sem->lock);
		errno = EOVERFLOW;
		return -1;
	}
	++sem->count;
	pthread_mutex_unlock(&sem->lock);
	pthread_cond_signal(&sem->posted);
	return 0;
}

int monotonic_sem_timedwait(monotonic_semaphore *sem, const timespec *deadline)
{
	if (deadline->tv_nsec < 0 || deadline->tv_nsec >= 1000000000L) {
		errno = EINVAL;
		return -1;
	}
	pthread_mutex_lock(&sem->lock);
	int rc = 0;
	while (sem->count == 0 && rc == 0)
		rc = pthread_cond_timedwait(&sem->posted, &sem->lock, deadline);
	// A post that arrived together with the timeout still counts.
	bool taken = sem->count > 0;
	if (taken)
		--sem->count;
	pthread_mutex_unlock(&sem->lock);
	if (taken)
		return 0;
	errno = rc;
	return -1;
}

timespec monotonic_deadline_in(long ms)
{
	timespec t;
	clock_gettime(CLOCK_MONOTONIC, &t);
	t.tv_sec += ms / 1000;
	t.tv_nsec += (ms % 1000) * 1000000L;
	if (t.tv_nsec >= 1000000000L) {
		t.tv_sec += 1;
		t.tv_nsec -= 1000000000L;
	}
	return t;
}

int64_t monotonic_now_ms()
{
	timespec t;
	clock_gettime(CLOCK_MONOTONIC, &t);
	return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

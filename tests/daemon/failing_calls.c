/*
 * Preloaded into the daemon to make one start-up call fail, as the C library
 * would when the system is short of threads or memory: FAIL_CALL names it
 * (sigaction, pthread_create or pthread_attr_setstacksize); every other call
 * goes to the C library.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>

static int failing(const char *name)
{
	const char *call = getenv("FAIL_CALL");

	return call && strcmp(call, name) == 0;
}

int pthread_create(pthread_t *thread, const pthread_attr_t *attr,
		   void *(*start)(void *), void *arg)
{
	int (*real)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);

	if (failing("pthread_create"))
		return EAGAIN;
	*(void **)&real = dlsym(RTLD_NEXT, "pthread_create");
	return real(thread, attr, start, arg);
}

int pthread_attr_setstacksize(pthread_attr_t *attr, size_t size)
{
	int (*real)(pthread_attr_t *, size_t);

	if (failing("pthread_attr_setstacksize"))
		return EINVAL;
	*(void **)&real = dlsym(RTLD_NEXT, "pthread_attr_setstacksize");
	return real(attr, size);
}

int sigaction(int signum, const struct sigaction *action, struct sigaction *old)
{
	int (*real)(int, const struct sigaction *, struct sigaction *);

	if (failing("sigaction")) {
		errno = EINVAL;
		return -1;
	}
	*(void **)&real = dlsym(RTLD_NEXT, "sigaction");
	return real(signum, action, old);
}

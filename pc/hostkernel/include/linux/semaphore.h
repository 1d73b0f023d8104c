#ifndef HOSTKERNEL_LINUX_SEMAPHORE_H
#define HOSTKERNEL_LINUX_SEMAPHORE_H

#include <pthread.h>

/* A counting semaphore that really sleeps, so concurrency tests mean something. */
struct semaphore {
	pthread_mutex_t lock;
	pthread_cond_t wait;
	unsigned int count;
};

#define __SEMAPHORE_INITIALIZER(name, n) \
	{ PTHREAD_MUTEX_INITIALIZER, PTHREAD_COND_INITIALIZER, (n) }
#define DEFINE_SEMAPHORE(name) \
	struct semaphore name = __SEMAPHORE_INITIALIZER(name, 1)

#ifdef __cplusplus
extern "C" {
#endif
void sema_init(struct semaphore *sem, int val);
void down(struct semaphore *sem);
void up(struct semaphore *sem);
#ifdef __cplusplus
}
#endif

#endif

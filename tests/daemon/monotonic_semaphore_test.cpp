#include <gtest/gtest.h>

#include <errno.h>

#include "monotonic_semaphore.h"

class MonotonicSemaphore : public ::testing::Test {
protected:
	void SetUp() override { ASSERT_EQ(0, monotonic_sem_init(&sem, 0)); }
	void TearDown() override { monotonic_sem_destroy(&sem); }
	monotonic_semaphore sem;
};

TEST_F(MonotonicSemaphore, PendingPostIsTakenEvenPastTheDeadline)
{
	timespec past = {0, 0};
	ASSERT_EQ(0, monotonic_sem_post(&sem));
	EXPECT_EQ(0, monotonic_sem_timedwait(&sem, &past));
	errno = 0;
	EXPECT_EQ(-1, monotonic_sem_timedwait(&sem, &past));
	EXPECT_EQ(ETIMEDOUT, errno);
}

TEST_F(MonotonicSemaphore, MalformedDeadlineIsAnError)
{
	timespec bad = {1, 1000000000L};
	errno = 0;
	EXPECT_EQ(-1, monotonic_sem_timedwait(&sem, &bad));
	EXPECT_EQ(EINVAL, errno);
}

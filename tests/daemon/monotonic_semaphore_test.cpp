#include <gtest/gtest.h>

#include <errno.h>

#include <chrono>
#include <thread>

#include "monotonic_semaphore.h"

using namespace std::chrono_literals;

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

TEST_F(MonotonicSemaphore, PostWakesAWaiter)
{
	std::thread poster([&] {
		std::this_thread::sleep_for(50ms);
		monotonic_sem_post(&sem);
	});
	timespec deadline = monotonic_deadline_in(5000);
	auto start = std::chrono::steady_clock::now();
	EXPECT_EQ(0, monotonic_sem_timedwait(&sem, &deadline));
	EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
	poster.join();
}

TEST_F(MonotonicSemaphore, MalformedDeadlineIsAnError)
{
	timespec bad = {1, 1000000000L};
	errno = 0;
	EXPECT_EQ(-1, monotonic_sem_timedwait(&sem, &bad));
	EXPECT_EQ(EINVAL, errno);
}

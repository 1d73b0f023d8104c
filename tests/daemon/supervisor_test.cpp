#include <gtest/gtest.h>

#include <errno.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "realtime_shift.h"
#include "supervisor.h"

using namespace std::chrono_literals;
using steady = std::chrono::steady_clock;
using strings = std::vector<std::string>;

namespace {

// What the reboot path did, in order, instead of running killall.
std::mutex events_mutex;
strings events;

void record(const std::string &event)
{
	std::lock_guard<std::mutex> lock(events_mutex);
	events.push_back(event);
}

strings recorded()
{
	std::lock_guard<std::mutex> lock(events_mutex);
	return events;
}

int record_shell(const char *command)
{
	record(std::string("shell ") + command);
	return 0;
}

unsigned record_pause(unsigned seconds)
{
	record("pause " + std::to_string(seconds));
	return 0;
}

// A pause that lasts until the test releases it.
struct {
	std::mutex mutex;
	std::condition_variable changed;
	bool pausing = false, released = false;
} gate;

unsigned gated_pause(unsigned seconds)
{
	record_pause(seconds);
	std::unique_lock<std::mutex> lock(gate.mutex);
	gate.pausing = true;
	gate.changed.notify_all();
	gate.changed.wait(lock, [] { return gate.released; });
	return 0;
}

double seconds_since(steady::time_point start)
{
	return std::chrono::duration<double>(steady::now() - start).count();
}

class Supervisor : public ::testing::Test {
protected:
	void SetUp() override
	{
		ASSERT_EQ(0, monotonic_sem_init(&state.sem_hb, 0));
		saved_hooks = g_supervisor_hooks;
		g_supervisor_hooks = {record_shell, record_pause};
		events.clear();
		testing::internal::CaptureStdout();
	}
	void TearDown() override
	{
		fflush(stdout);
		testing::internal::GetCapturedStdout();
		realtime_shift_sec = 0;
		g_supervisor_hooks = saved_hooks;
		monotonic_sem_destroy(&state.sem_hb);
	}

	int send(int32_t cmd, int32_t arg = 0)
	{
		daemon_msg msg = {cmd, arg};
		return handle_msg(&state, &msg);
	}
	// Everything printed since the last call.
	std::string output()
	{
		fflush(stdout);
		std::string printed = testing::internal::GetCapturedStdout();
		testing::internal::CaptureStdout();
		return printed;
	}
	// Posts waiting in sem_hb, taken out to count them.
	int pending_heartbeats()
	{
		timespec past = {0, 0};
		int n = 0;
		while (monotonic_sem_timedwait(&state.sem_hb, &past) == 0)
			++n;
		return n;
	}

	daemon_state state{};
	supervisor_hooks saved_hooks{};
};

}  // namespace

TEST_F(Supervisor, UnregisteredClientMayOnlyRegister)
{
	EXPECT_EQ(-1, send(DAEMON_CMD_HEARTBEAT));
	EXPECT_EQ(-1, send(DAEMON_CMD_REBOOT));
	EXPECT_EQ(-1, send(7));  // the registration check comes first
	EXPECT_EQ("msg is err\nmsg is err\nmsg is err\n", output());
	EXPECT_EQ(0, state.registered.load());
	EXPECT_EQ(0, pending_heartbeats());
	EXPECT_TRUE(recorded().empty());
}

TEST_F(Supervisor, RegisteredClientHeartbeatsAndUnknownCommandsAreRefused)
{
	EXPECT_EQ(0, send(DAEMON_CMD_REGISTER, 12345));  // arg is ignored
	EXPECT_EQ("norvel is reged\n", output());
	EXPECT_EQ(-1, send(DAEMON_CMD_REGISTER));
	EXPECT_EQ("msg is err\n", output());
	EXPECT_EQ(0, send(DAEMON_CMD_HEARTBEAT));
	EXPECT_EQ(0, send(DAEMON_CMD_HEARTBEAT));
	EXPECT_EQ("", output());
	EXPECT_EQ(2, pending_heartbeats());
	EXPECT_EQ(-1, send(7));
	EXPECT_EQ(-1, send(0));
	EXPECT_EQ(-1, send(-2));
	EXPECT_EQ("cmd is not support\ncmd is not support\ncmd is not support\n", output());
	EXPECT_EQ(1, state.registered.load());
	EXPECT_TRUE(recorded().empty());
}

TEST_F(Supervisor, RebootKillsPausesRelaunchesAndUnregisters)
{
	ASSERT_EQ(0, send(DAEMON_CMD_REGISTER));
	output();
	EXPECT_EQ(0, send(DAEMON_CMD_REBOOT));
	EXPECT_EQ("norvel is reboot\n", output());
	EXPECT_EQ((strings{"shell killall -9 norvel", "pause 5", "shell /home/app/norvel &"}),
		  recorded());
	EXPECT_EQ(0, state.registered.load());
	EXPECT_EQ(-1, send(DAEMON_CMD_HEARTBEAT));  // the new instance must register first
	EXPECT_EQ(0, send(DAEMON_CMD_REGISTER));
}

TEST_F(Supervisor, RebootDuringAnotherRebootsPauseIsRefused)
{
	g_supervisor_hooks.pause = gated_pause;
	gate.pausing = gate.released = false;
	ASSERT_EQ(0, send(DAEMON_CMD_REGISTER));
	int first_result = -2;
	std::thread monitor([&] { first_result = send(DAEMON_CMD_REBOOT); });
	{
		std::unique_lock<std::mutex> lock(gate.mutex);
		gate.changed.wait(lock, [] { return gate.pausing; });
	}
	EXPECT_EQ(-1, send(DAEMON_CMD_REBOOT));
	EXPECT_EQ(-1, send(DAEMON_CMD_HEARTBEAT));
	{
		std::lock_guard<std::mutex> lock(gate.mutex);
		gate.released = true;
	}
	gate.changed.notify_all();
	monitor.join();
	EXPECT_EQ(0, first_result);
	EXPECT_EQ("norvel is reged\nnorvel is reboot\nmsg is err\nmsg is err\n", output());
	EXPECT_EQ((strings{"shell killall -9 norvel", "pause 5", "shell /home/app/norvel &"}),
		  recorded());
}

// The control thread and the monitor ask for a reboot at the same moment:
// norvel is restarted once, never twice.
TEST_F(Supervisor, SimultaneousRebootsRestartNorvelOnce)
{
	for (int round = 0; round < 300; ++round) {
		state.registered = 1;
		std::atomic<int> ready{0};
		int results[2];
		auto reboot = [&](int i) {
			ready.fetch_add(1);
			while (ready.load() < 2) {
			}
			results[i] = send(DAEMON_CMD_REBOOT);
		};
		std::thread a(reboot, 0), b(reboot, 1);
		a.join();
		b.join();
		ASSERT_EQ(-1, results[0] + results[1]) << "round " << round;
	}
	EXPECT_EQ(300u * 3, recorded().size());
}

TEST_F(Supervisor, HeartbeatWithinTheWindowKeepsNorvel)
{
	ASSERT_EQ(0, send(DAEMON_CMD_REGISTER));
	auto start = steady::now();
	std::thread norvel([&] {
		std::this_thread::sleep_for(100ms);
		send(DAEMON_CMD_HEARTBEAT);
	});
	EXPECT_EQ(HB_ALIVE, hb_check_window(&state, 2000));
	norvel.join();
	EXPECT_LT(seconds_since(start), 1.0);
	EXPECT_EQ("norvel is reged\n", output());
	EXPECT_TRUE(recorded().empty());
	EXPECT_EQ(1, state.registered.load());
}

TEST_F(Supervisor, SilenceForAWholeWindowRestartsNorvel)
{
	ASSERT_EQ(0, send(DAEMON_CMD_REGISTER));
	auto start = steady::now();
	EXPECT_EQ(HB_TIMED_OUT, hb_check_window(&state, 300));
	EXPECT_GE(seconds_since(start), 0.3);
	EXPECT_EQ("norvel is reged\nsem_hb recv timed out\nnorvel is reboot\n", output());
	EXPECT_EQ((strings{"shell killall -9 norvel", "pause 5", "shell /home/app/norvel &"}),
		  recorded());
	EXPECT_EQ(0, state.registered.load());
}

TEST_F(Supervisor, EachHeartbeatEndsOneWindow)
{
	ASSERT_EQ(0, send(DAEMON_CMD_REGISTER));
	for (int i = 0; i < 3; ++i)
		send(DAEMON_CMD_HEARTBEAT);
	auto start = steady::now();
	for (int i = 0; i < 3; ++i)
		EXPECT_EQ(HB_ALIVE, hb_check_window(&state, 1000));
	EXPECT_LT(seconds_since(start), 0.5);
	EXPECT_EQ(HB_TIMED_OUT, hb_check_window(&state, 100));
}

// norvel asks for its own restart while a window runs: when that window
// closes nobody is killed, neither during the pause nor after the new
// instance registered; the new instance is watched from a fresh window.
TEST_F(Supervisor, WindowOfARestartedInstanceKillsNobody)
{
	ASSERT_EQ(0, send(DAEMON_CMD_REGISTER));
	std::thread restart([&] {
		std::this_thread::sleep_for(50ms);
		send(DAEMON_CMD_REBOOT);
	});
	EXPECT_EQ(HB_INSTANCE_GONE, hb_check_window(&state, 200));
	restart.join();

	ASSERT_EQ(0, send(DAEMON_CMD_REGISTER));
	std::thread restart_and_register([&] {
		std::this_thread::sleep_for(50ms);
		send(DAEMON_CMD_REBOOT);
		send(DAEMON_CMD_REGISTER);
	});
	EXPECT_EQ(HB_INSTANCE_GONE, hb_check_window(&state, 200));
	restart_and_register.join();
	EXPECT_EQ("norvel is reged\nnorvel is reboot\nnorvel is reged\nnorvel is reboot\n"
		  "norvel is reged\n",
		  output());
	EXPECT_EQ(6u, recorded().size());  // the two restarts asked for, no more
	EXPECT_EQ(1, state.registered.load());

	EXPECT_EQ(HB_TIMED_OUT, hb_check_window(&state, 100));
}

// The window is measured on the monotonic clock: a wall clock set back
// does not end it early (a realtime deadline would lie in the past) ...
TEST_F(Supervisor, WallClockSetBackDoesNotCutTheWindowShort)
{
	ASSERT_EQ(0, send(DAEMON_CMD_REGISTER));
	realtime_shift_sec = -3600;
	std::thread norvel([&] {
		std::this_thread::sleep_for(200ms);
		send(DAEMON_CMD_HEARTBEAT);
	});
	EXPECT_EQ(HB_ALIVE, hb_check_window(&state, 1000));
	norvel.join();
	EXPECT_TRUE(recorded().empty());
}

// ... and a wall clock set forward does not stretch it (a realtime deadline
// would lie an hour ahead; the late heartbeat below would end that wait).
TEST_F(Supervisor, WallClockSetForwardDoesNotStretchTheWindow)
{
	ASSERT_EQ(0, send(DAEMON_CMD_REGISTER));
	realtime_shift_sec = 3600;
	auto start = steady::now();
	std::thread late_heartbeat([&] {
		std::this_thread::sleep_for(1s);
		monotonic_sem_post(&state.sem_hb);
	});
	EXPECT_EQ(HB_TIMED_OUT, hb_check_window(&state, 300));
	EXPECT_LT(seconds_since(start), 0.9);
	late_heartbeat.join();
}

#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
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

// The supervisor's clock in the tests: only the recorded pauses move it.
std::atomic<int64_t> fake_now_ms{0};

int64_t fake_clock()
{
	return fake_now_ms.load();
}

unsigned record_pause(unsigned seconds)
{
	record("pause " + std::to_string(seconds));
	fake_now_ms += static_cast<int64_t>(seconds) * 1000;
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
		g_supervisor_hooks = {record_shell, record_pause, fake_clock};
		fake_now_ms = 0;
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

// The back-off alone: each failed launch doubles the pause and the wait for
// a register up to 5 minutes; a register brings back 5 s and 10 s.
TEST(LaunchBackoff, DoublesUpToTheCapAndStartsAgain)
{
	launch_backoff backoff = launch_backoff_initial();
	EXPECT_EQ(0u, backoff.failures);
	EXPECT_EQ(RELAUNCH_PAUSE_SEC, backoff.pause_sec);
	EXPECT_EQ(REGISTER_WAIT_SEC, backoff.register_wait_sec);
	EXPECT_EQ(-1, launch_backoff_left_ms(backoff, 0));

	std::vector<unsigned> pauses, waits;
	for (int i = 0; i < 40; ++i) {
		backoff = launch_backoff_failed(backoff);
		pauses.push_back(backoff.pause_sec);
		waits.push_back(backoff.register_wait_sec);
	}
	EXPECT_EQ(40u, backoff.failures);
	EXPECT_EQ((std::vector<unsigned>{10, 20, 40, 80, 160, 300, 300}),
		  std::vector<unsigned>(pauses.begin(), pauses.begin() + 7));
	EXPECT_EQ((std::vector<unsigned>{20, 40, 80, 160, 300, 300}),
		  std::vector<unsigned>(waits.begin(), waits.begin() + 6));
	EXPECT_EQ(BACKOFF_CAP_SEC, pauses.back());
	EXPECT_EQ(BACKOFF_CAP_SEC, waits.back());

	// A wait runs out at its deadline to the millisecond, and not before.
	int64_t start = 9000000000000;  // far up the clock: no 32-bit overflow
	backoff = launch_backoff_wait(backoff, WAIT_LAUNCH, backoff.register_wait_sec, start);
	EXPECT_EQ(300000, launch_backoff_left_ms(backoff, start));
	EXPECT_EQ(1, launch_backoff_left_ms(backoff, start + 299999));
	EXPECT_EQ(0, launch_backoff_left_ms(backoff, start + 300000));
	EXPECT_EQ(0, launch_backoff_left_ms(backoff, start + 900000));

	launch_backoff again = launch_backoff_initial();
	EXPECT_EQ(0u, again.failures);
	EXPECT_EQ(RELAUNCH_PAUSE_SEC, again.pause_sec);
	EXPECT_EQ(REGISTER_WAIT_SEC, again.register_wait_sec);
}

// The monitor with nobody registered, on the tests' clock: the start-up
// grace, the launch, retries with growing pauses and waits, and a register
// that sets them back for the next hang and the restart norvel asks for.
TEST_F(Supervisor, LaunchesThatNoRegisterFollowsAreRetried)
{
	const strings reboot_path_5 = {"shell killall -9 norvel", "pause 5",
				       "shell /home/app/norvel &"};
	EXPECT_EQ(2000, hb_check_unregistered(&state));  // socket not bound: nothing awaited
	await_startup_register(&state);
	fake_now_ms = 29000;
	EXPECT_EQ(1000, hb_check_unregistered(&state));
	fake_now_ms = 30000;
	EXPECT_EQ(0, hb_check_unregistered(&state));
	EXPECT_EQ("norvel not reged in 30 s, launch\n", output());
	EXPECT_EQ(reboot_path_5, recorded());
	EXPECT_EQ(35000, fake_now_ms.load());

	events.clear();
	fake_now_ms = 44999;
	EXPECT_EQ(1, hb_check_unregistered(&state));
	fake_now_ms = 45000;
	EXPECT_EQ(0, hb_check_unregistered(&state));
	fake_now_ms = 75000;  // the 10-s pause, then the 20-s wait
	EXPECT_EQ(0, hb_check_unregistered(&state));
	EXPECT_EQ("norvel not reged in 10 s, retry 1\nnorvel not reged in 20 s, retry 2\n",
		  output());
	EXPECT_EQ((strings{"shell killall -9 norvel", "pause 10", "shell /home/app/norvel &",
			   "shell killall -9 norvel", "pause 20", "shell /home/app/norvel &"}),
		  recorded());
	EXPECT_EQ(2000, hb_check_unregistered(&state));  // 40 s to wait now

	ASSERT_EQ(0, send(DAEMON_CMD_REGISTER));
	EXPECT_EQ("norvel is reged\nnorvel reged after 2 retries\n", output());
	EXPECT_EQ(0, hb_check_unregistered(&state));

	// A hang: the first pause and wait again.
	events.clear();
	EXPECT_EQ(HB_TIMED_OUT, hb_check_window(&state, 0));
	EXPECT_EQ(reboot_path_5, recorded());
	fake_now_ms += 10000;
	EXPECT_EQ(0, hb_check_unregistered(&state));
	EXPECT_EQ("sem_hb recv timed out\nnorvel is reboot\nnorvel not reged in 10 s, retry 1\n",
		  output());

	// A restart asked for is awaited the same way.
	ASSERT_EQ(0, send(DAEMON_CMD_REGISTER));
	ASSERT_EQ(0, send(DAEMON_CMD_REBOOT));
	EXPECT_EQ(2000, hb_check_unregistered(&state));
	fake_now_ms += 10000;
	EXPECT_EQ(0, hb_check_unregistered(&state));
	EXPECT_EQ("norvel is reged\nnorvel reged after 1 retry\nnorvel is reboot\n"
		  "norvel not reged in 10 s, retry 1\n",
		  output());
}

// The shell's answer is reported when a command did not run at all; a
// killall that found nobody (status 1) is the usual case.
TEST_F(Supervisor, CommandsTheShellCouldNotRunAreReported)
{
	static int kill_status, launch_status;
	g_supervisor_hooks.run_shell = [](const char *command) {
		record_shell(command);
		errno = EAGAIN;
		return strcmp(command, KILL_COMMAND) == 0 ? kill_status : launch_status;
	};
	testing::internal::CaptureStderr();
	for (int statuses : {0, 1}) {
		kill_status = statuses == 0 ? 1 << 8 : -1;
		launch_status = (statuses == 0 ? 127 : 126) << 8;
		ASSERT_EQ(0, send(DAEMON_CMD_REGISTER));
		ASSERT_EQ(0, send(DAEMON_CMD_REBOOT));
	}
	EXPECT_EQ("/home/app/norvel &: shell status 127\n"
		  "killall -9 norvel: Resource temporarily unavailable\n"
		  "/home/app/norvel &: shell status 126\n",
		  testing::internal::GetCapturedStderr());
	EXPECT_EQ(6u, recorded().size());
}

// /var missing, then a file where it should be, then there: each new
// reason is printed once, the bind that follows in one line.
TEST_F(Supervisor, ControlSocketIsTriedUntilItBinds)
{
	char dir[] = "/tmp/daemon-bind-XXXXXX";
	ASSERT_NE(nullptr, mkdtemp(dir));
	static std::string var;
	static int pauses;
	var = std::string(dir) + "/var";
	pauses = 0;
	g_supervisor_hooks.pause = [](unsigned seconds) {
		record_pause(seconds);
		if (++pauses == 2)
			close(open(var.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
		if (pauses == 4 && unlink(var.c_str()) == 0)
			mkdir(var.c_str(), 0755);
		return 0u;
	};
	testing::internal::CaptureStderr();
	int fd = bind_control_socket((var + "/daemon").c_str());
	std::string errors = testing::internal::GetCapturedStderr();
	EXPECT_GE(fd, 0);
	if (fd >= 0)
		close(fd);
	EXPECT_EQ("bind error: No such file or directory\nbind error: Not a directory\n", errors);
	EXPECT_EQ("socket bound after 5 tries\n", output());
	EXPECT_EQ(strings(4, "pause 2"), recorded());
	EXPECT_EQ(0, system(("rm -rf " + std::string(dir)).c_str()));
}

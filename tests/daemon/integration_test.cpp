// The real daemon with its real constants, inside the sandbox (run through
// ./sandbox; one scenario per ctest entry so that they overlap in time).
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

#include "control.h"
#include "sandbox_harness.h"

using namespace sandbox;
using namespace std::chrono_literals;
using strings = std::vector<std::string>;

namespace {

void send_command(int32_t cmd)
{
	daemon_msg msg = {cmd, 0};
	ASSERT_EQ(8, sendto_unix_socket(DAEMON_SOCKET_PATH, &msg, sizeof msg));
}

// Through the C client, with the datagram cut or padded to `size` bytes.
void send_sized(int32_t cmd, int size)
{
	std::string command = program("SEND_DATAGRAM_BIN") + " " DAEMON_SOCKET_PATH " " +
			      std::to_string(cmd) + " " + std::to_string(size);
	ASSERT_EQ(0, system(command.c_str())) << command;
}

// A signal mask of /proc/PID/status ("SigIgn", "SigCgt", ...).
unsigned long signal_mask(pid_t pid, const char *field)
{
	std::ifstream status("/proc/" + std::to_string(pid) + "/status");
	std::string line, key = std::string(field) + ":";
	while (std::getline(status, line))
		if (line.rfind(key, 0) == 0)
			return std::stoul(line.substr(key.size()), nullptr, 16);
	return ~0ul;
}

// The pid of the one norvel running, or -1.
pid_t only_norvel()
{
	pid_t found = -1;
	DIR *proc = opendir("/proc");
	while (dirent *entry = proc ? readdir(proc) : nullptr) {
		std::ifstream comm(std::string("/proc/") + entry->d_name + "/comm");
		std::string name;
		if (std::getline(comm, name) && name == "norvel" && !process_gone(atoi(entry->d_name)))
			found = found < 0 ? atoi(entry->d_name) : -1;
	}
	if (proc)
		closedir(proc);
	return found;
}

std::string socket_of(pid_t pid)
{
	for (const auto &target : descriptor_targets(pid))
		if (target.rfind("socket:", 0) == 0)
			return target;
	return "";
}

// Every feed is one zero byte, 5 s after the one before.
void expect_regular_feeds(const std::vector<feed> &feeds, size_t at_least)
{
	ASSERT_GE(feeds.size(), at_least);
	for (size_t i = 0; i < feeds.size(); ++i) {
		EXPECT_EQ(0, feeds[i].byte) << "feed " << i;
		if (i > 0) {
			double gap = seconds_between(feeds[i - 1].at, feeds[i].at);
			EXPECT_GT(gap, 4.5) << "feed " << i;
			EXPECT_LT(gap, 5.6) << "feed " << i;
		}
	}
}

// Starts norvel as the board does, once the daemon listens; its pid once
// the daemon has taken its registration.
std::optional<pid_t> start_registered_norvel(daemon_run &daemon)
{
	if (!daemon.wait_socket(3s))
		return std::nullopt;
	daemon.start_norvel();
	auto norvel = daemon.wait_norvel(1, 3s);
	if (!norvel || !daemon.wait_line("norvel is reged", 1, 3s))
		return std::nullopt;
	return norvel;
}

// The socket file the daemon bound: a new daemon binds a new one.
struct socket_file {
	dev_t dev;
	ino_t ino;
	timespec ctime;
	bool operator==(const socket_file &other) const
	{
		return dev == other.dev && ino == other.ino && ctime.tv_sec == other.ctime.tv_sec &&
		       ctime.tv_nsec == other.ctime.tv_nsec;
	}
};

std::optional<socket_file> daemon_socket_file()
{
	struct stat st;
	if (stat(DAEMON_SOCKET_PATH, &st) != 0 || !S_ISSOCK(st.st_mode))
		return std::nullopt;
	return socket_file{st.st_dev, st.st_ino, st.st_ctim};
}

// Waits for a socket file other than `old` at /var/daemon.
bool wait_new_socket(const socket_file &old, milliseconds timeout)
{
	auto until = steady::now() + timeout;
	for (;;) {
		auto now = daemon_socket_file();
		if (now && !(*now == old))
			return true;
		if (steady::now() > until)
			return false;
		std::this_thread::sleep_for(10ms);
	}
}

std::vector<feed> feeds_since(const std::vector<feed> &feeds, steady::time_point since)
{
	std::vector<feed> later;
	for (const auto &f : feeds)
		if (f.at >= since)
			later.push_back(f);
	return later;
}

// The daemon crashes and a new one starts while norvel runs: norvel
// registers with the new daemon at its next heartbeat, and the new daemon
// supervises it from then on.  Returns when the new daemon has its
// register, or with a failure.
void restart_daemon_under_norvel(daemon_run &daemon, pid_t norvel, milliseconds down,
				 steady::time_point *restarted)
{
	auto old_socket = daemon_socket_file();
	ASSERT_TRUE(old_socket);
	daemon.crash();
	std::this_thread::sleep_for(down);
	ASSERT_FALSE(process_gone(norvel)) << "norvel did not outlive its daemon";
	*restarted = steady::now();
	daemon.start_again();
	ASSERT_TRUE(wait_new_socket(*old_socket, 3s)) << "the new daemon bound no new socket";

	// Within one heartbeat period: the first heartbeat to the new daemon
	// goes after a register.
	std::string again =
		"norvel[" + std::to_string(norvel) + "]: registered again with a new daemon";
	auto registered = daemon.wait_line("norvel is reged", 2, 3500ms);
	ASSERT_TRUE(registered) << "the running norvel did not register with the new daemon";
	EXPECT_LT(seconds_between(*restarted, *registered), 3.3);
	EXPECT_TRUE(daemon.wait_line(again, 1, 1s));
	EXPECT_EQ(pid_t(-1), daemon.wait_norvel(2, 0ms).value_or(-1)) << "a second norvel started";
}

bool is_norvel_start(const std::string &line)
{
	return line.rfind("norvel[", 0) == 0 && line.find("]: started") != std::string::npos;
}

size_t count_lines(const daemon_run &daemon, const std::function<bool(const std::string &)> &match)
{
	size_t n = 0;
	for (const auto &line : daemon.lines())
		n += match(line.text) ? 1 : 0;
	return n;
}

size_t count_lines(const daemon_run &daemon, const std::string &text)
{
	return count_lines(daemon, [&](const std::string &line) { return line == text; });
}

// Hangs `norvel` (SIGUSR1) and checks that the daemon catches it: the
// timeout 7 to 10.8 s after the hang (its last heartbeat came at most 3 s,
// norvel's period, before), the kill, and 4.9 to 6.5 s later the relaunched
// norvel's registration, the daemon's `registration`-th. False when a step
// did not come at all.
bool expect_hang_caught(daemon_run &daemon, pid_t norvel, size_t registration)
{
	size_t timeouts = count_lines(daemon, "sem_hb recv timed out");
	size_t reboots = count_lines(daemon, "norvel is reboot");
	size_t starts = count_lines(daemon, is_norvel_start);
	auto hang = steady::now();
	if (kill(norvel, SIGUSR1) != 0)
		return false;
	auto timed_out = daemon.wait_line("sem_hb recv timed out", timeouts + 1, 13s);
	if (!timed_out)
		return false;
	EXPECT_GT(seconds_between(hang, *timed_out), 6.8);
	EXPECT_LT(seconds_between(hang, *timed_out), 10.8);
	auto reboot = daemon.wait_line("norvel is reboot", reboots + 1, 1s);
	if (!reboot)
		return false;
	EXPECT_TRUE(wait_gone(norvel, 2s)) << "killall -9 norvel did not kill " << norvel;

	auto relaunched_norvel = daemon.wait_norvel(starts + 1, 9s);
	auto relaunched = daemon.wait_line("norvel is reged", registration, 3s);
	if (!relaunched_norvel || !relaunched)
		return false;
	EXPECT_NE(norvel, *relaunched_norvel);
	EXPECT_GT(seconds_between(*reboot, *relaunched), 4.9);
	EXPECT_LT(seconds_between(*reboot, *relaunched), 6.5);
	return true;
}

}  // namespace

// Register, heartbeats through more than one window, a hang, the timeout,
// the kill, the 5-s pause, the relaunch and the new registration.
TEST(Supervision, HungNorvelIsKilledAndRelaunched)
{
	daemon_run daemon;
	auto first = start_registered_norvel(daemon);
	ASSERT_TRUE(first);

	std::this_thread::sleep_for(12s);
	EXPECT_EQ(strings{"norvel is reged"}, daemon.daemon_lines()) << "heartbeats did not keep it";

	ASSERT_TRUE(expect_hang_caught(daemon, *first, 2));

	EXPECT_EQ((strings{"norvel is reged", "sem_hb recv timed out", "norvel is reboot",
			   "norvel is reged"}),
		  daemon.daemon_lines());
	// The main thread fed on through the reboot.
	expect_regular_feeds(daemon.feeds(), 4);
}

// The daemon crashes; while it is down norvel's heartbeats fail, and it
// runs on.  A new daemon registers that norvel again and then catches its
// hang: the timeout, the kill and the relaunch.
TEST(Supervision, RestartedDaemonTakesOverTheRunningNorvel)
{
	daemon_run daemon;
	auto first = start_registered_norvel(daemon);
	ASSERT_TRUE(first);
	ASSERT_FALSE(daemon.feeds().empty());

	steady::time_point restarted;
	// Down for more than a heartbeat period: one heartbeat meets the dead
	// daemon's socket file.
	restart_daemon_under_norvel(daemon, *first, 4s, &restarted);
	if (HasFatalFailure())
		return;
	std::string refused =
		"norvel[" + std::to_string(*first) + "]: heartbeat not sent: Connection refused";
	EXPECT_TRUE(daemon.wait_line(refused, 1, 0ms)) << "no heartbeat met the dead daemon";

	// A whole window passes: the new daemon takes its heartbeats.
	std::this_thread::sleep_for(11s);
	EXPECT_EQ((strings{"norvel is reged", "norvel is reged"}), daemon.daemon_lines());

	ASSERT_TRUE(expect_hang_caught(daemon, *first, 3)) << "the new daemon does not supervise the running norvel";

	EXPECT_EQ((strings{"norvel is reged", "norvel is reged", "sem_hb recv timed out",
			   "norvel is reboot", "norvel is reged"}),
		  daemon.daemon_lines());
	// The new daemon opened the watchdog FIFO again and feeds it.
	expect_regular_feeds(feeds_since(daemon.feeds(), restarted), 4);
}

// norvel started before the daemon: it retries its register until the
// daemon listens, and is supervised from then on.
TEST(Supervision, NorvelStartedBeforeTheDaemon)
{
	ASSERT_EQ(0, system("/home/app/norvel >/var/norvel.log 2>&1 &"));
	std::this_thread::sleep_for(1s);
	daemon_run daemon;
	auto registered = daemon.wait_line("norvel is reged", 1, 4s);
	ASSERT_TRUE(registered) << "norvel did not register with the daemon started after it";
	std::this_thread::sleep_for(11s);
	EXPECT_EQ(strings{"norvel is reged"}, daemon.daemon_lines());

	std::ifstream log("/var/norvel.log");
	std::stringstream text;
	text << log.rdbuf();
	EXPECT_NE(std::string::npos,
		  text.str().find("]: register not sent: No such file or directory\n"))
		<< text.str();
	EXPECT_NE(std::string::npos, text.str().find("]: daemon not reachable, retrying in 3 s\n"));
	EXPECT_NE(std::string::npos, text.str().find("]: register sent to the daemon\n"));
}

// A new daemon between two heartbeats: not one of them is refused.
TEST(Supervision, DaemonRestartedBetweenTwoHeartbeats)
{
	daemon_run daemon;
	auto norvel = start_registered_norvel(daemon);
	ASSERT_TRUE(norvel);

	steady::time_point restarted;
	restart_daemon_under_norvel(daemon, *norvel, 0ms, &restarted);
	if (HasFatalFailure())
		return;
	std::this_thread::sleep_for(11s);
	EXPECT_EQ((strings{"norvel is reged", "norvel is reged"}), daemon.daemon_lines());
	for (const auto &line : daemon.lines())
		EXPECT_EQ(std::string::npos, line.text.find("not sent")) << line.text;
	EXPECT_FALSE(process_gone(*norvel));
	expect_regular_feeds(feeds_since(daemon.feeds(), restarted), 2);
}

// norvel asks for its restart; the relaunched one holds neither the
// watchdog nor the daemon's socket.
TEST(Supervision, RestartOnRequestPassesNoDescriptorsOn)
{
	daemon_run daemon;
	auto first = start_registered_norvel(daemon);
	ASSERT_TRUE(first);

	ASSERT_EQ(0, kill(*first, SIGUSR2));
	auto reboot = daemon.wait_line("norvel is reboot", 1, 2s);
	ASSERT_TRUE(reboot);
	EXPECT_TRUE(wait_gone(*first, 2s));
	// Sent during the pause: it waits in the socket and is refused, as
	// nobody is registered until the relaunched norvel's register, which
	// queues behind it.
	send_command(DAEMON_CMD_REBOOT);

	auto second = daemon.wait_norvel(2, 8s);
	ASSERT_TRUE(second);
	auto registered = daemon.wait_line("norvel is reged", 2, 3s);
	ASSERT_TRUE(registered);
	EXPECT_GT(seconds_between(*reboot, *registered), 4.9);
	EXPECT_LT(seconds_between(*reboot, *registered), 6.5);
	EXPECT_EQ((strings{"norvel is reged", "norvel is reboot", "msg is err", "norvel is reged"}),
		  daemon.daemon_lines());

	std::string daemon_socket = socket_of(daemon.pid());
	ASSERT_NE("", daemon_socket);
	auto daemon_fds = descriptor_targets(daemon.pid());
	ASSERT_NE(daemon_fds.end(), std::find(daemon_fds.begin(), daemon_fds.end(), "/dev/watchdog"));
	for (const auto &target : descriptor_targets(*second)) {
		EXPECT_NE("/dev/watchdog", target);
		EXPECT_NE(daemon_socket, target);
	}
	// The daemon's own SIGPIPE handling stays its own: an ignored SIGPIPE
	// would reach norvel through exec.
	EXPECT_EQ(0, signal_mask(*second, "SigIgn") & (1ul << (SIGPIPE - 1)));
}

// `daemon | logger`, and logger restarts: the daemon's lines meet a closed
// pipe. It must go on supervising and feeding; the programs it starts keep
// the default SIGPIPE action.
TEST(Supervision, GoesOnWhenItsOutputReaderGoesAway)
{
	daemon_run daemon;
	ASSERT_TRUE(daemon.wait_socket(3s));
	// Writing elsewhere, so that the closed pipe meets the daemon only.
	ASSERT_EQ(0, system("/home/app/norvel >/dev/null &"));
	ASSERT_TRUE(daemon.wait_line("norvel is reged", 1, 3s));
	pid_t norvel = only_norvel();
	ASSERT_GT(norvel, 0);

	daemon.close_output();
	ASSERT_EQ(0, kill(norvel, SIGUSR1));
	// Killed only by a daemon that lived through "sem_hb recv timed out".
	EXPECT_TRUE(wait_gone(norvel, 14s)) << "the hung norvel was not killed";
	size_t fed = daemon.feeds().size();
	std::this_thread::sleep_for(6s);
	auto status = daemon.wait_exit(0ms);
	EXPECT_FALSE(status) << "the daemon ended, signal " << (status ? WTERMSIG(*status) : 0);
	EXPECT_GT(daemon.feeds().size(), fed) << "feeding stopped";
}

// Commands out of turn, odd datagram sizes and a stale socket file; an
// unregistered daemon stays quiet past a whole window.
TEST(ControlChannel, RefusesCommandsOutOfTurnAndOddDatagrams)
{
	ASSERT_EQ(0, close(open("/var/daemon", O_WRONLY | O_CREAT | O_TRUNC, 0644)));  // stale
	daemon_run daemon;
	ASSERT_TRUE(daemon.wait_socket(3s)) << "stale /var/daemon was not replaced";

	send_sized(DAEMON_CMD_HEARTBEAT, 8);
	send_sized(DAEMON_CMD_REBOOT, 8);
	send_sized(7, 8);
	send_sized(DAEMON_CMD_REGISTER, 4);
	send_sized(DAEMON_CMD_REGISTER, 0);
	ASSERT_TRUE(daemon.wait_line("msg recv is error", 2, 2s));

	std::this_thread::sleep_for(11s);
	send_sized(DAEMON_CMD_REGISTER, 12);  // read as its first 8 bytes
	ASSERT_TRUE(daemon.wait_line("norvel is reged", 1, 2s));
	send_sized(DAEMON_CMD_REGISTER, 8);
	send_sized(DAEMON_CMD_HEARTBEAT, 8);  // accepted silently
	send_sized(7, 8);
	ASSERT_TRUE(daemon.wait_line("cmd is not support", 1, 2s));

	EXPECT_EQ((strings{"msg is err", "msg is err", "msg is err", "msg recv is error",
			   "msg recv is error", "norvel is reged", "msg is err", "cmd is not support"}),
		  daemon.daemon_lines());
}

// Thousands of heartbeats: all accepted without a word; the window then
// runs from the last one.
TEST(ControlChannel, HeartbeatFlood)
{
	daemon_run daemon;
	ASSERT_TRUE(daemon.wait_socket(3s));
	send_command(DAEMON_CMD_REGISTER);
	ASSERT_TRUE(daemon.wait_line("norvel is reged", 1, 2s));
	// Past the monitor's 2-s idle poll, so that its window is open.
	std::this_thread::sleep_for(2200ms);

	for (int i = 0; i < 20000; ++i) {
		daemon_msg heartbeat = {DAEMON_CMD_HEARTBEAT, i};
		ASSERT_EQ(8, sendto_unix_socket(DAEMON_SOCKET_PATH, &heartbeat, sizeof heartbeat));
	}
	auto last = steady::now();
	auto timed_out = daemon.wait_line("sem_hb recv timed out", 1, 13s);
	ASSERT_TRUE(timed_out);
	EXPECT_GT(seconds_between(last, *timed_out), 9.9);
	EXPECT_LT(seconds_between(last, *timed_out), 11.0);
	ASSERT_TRUE(daemon.wait_line("norvel is reboot", 1, 1s));
	EXPECT_EQ((strings{"norvel is reged", "sem_hb recv timed out", "norvel is reboot"}),
		  daemon.daemon_lines());
	expect_regular_feeds(daemon.feeds(), 2);
}

// After a hang, the relaunched norvel crashes at start and so does the
// first retry's; the second retry's starts cleanly.  Each retry doubles
// the pause and the wait for a register; the norvel that registers is
// supervised with the first values again: its hang is caught and it is
// relaunched after 5 s.
TEST(Relaunch, NorvelCrashingAtStartIsLaunchedUntilItRegisters)
{
	// Starts 2 and 3 crash; the others exec the real norvel from a file of
	// that name, which killall -9 norvel finds.
	ASSERT_EQ(0, system("mkdir /home/app/real && mv /home/app/norvel /home/app/real/norvel"));
	std::ofstream("/home/app/norvel")
		<< "#!/bin/sh\n"
		   "echo start >>/var/norvel-starts\n"
		   "case $(wc -l </var/norvel-starts) in 2|3) kill -SEGV $$ ;; esac\n"
		   "exec /home/app/real/norvel\n";
	ASSERT_EQ(0, chmod("/home/app/norvel", 0755));
	daemon_run daemon;
	auto first = start_registered_norvel(daemon);
	ASSERT_TRUE(first);

	// Hung before its first heartbeat: the window opens within the
	// monitor's 2-s poll.
	ASSERT_EQ(0, kill(*first, SIGUSR1));
	auto reboot = daemon.wait_line("norvel is reboot", 1, 13s);
	ASSERT_TRUE(reboot);
	// 5 s pause and 10 s without a register; 10 s and 20 s; 20 s pause.
	auto retry = daemon.wait_line("norvel not reged in 10 s, retry 1", 1, 18s);
	ASSERT_TRUE(retry);
	EXPECT_GT(seconds_between(*reboot, *retry), 14.9);
	EXPECT_LT(seconds_between(*reboot, *retry), 16.5);
	auto second_retry = daemon.wait_line("norvel not reged in 20 s, retry 2", 1, 33s);
	ASSERT_TRUE(second_retry);
	EXPECT_GT(seconds_between(*retry, *second_retry), 29.9);
	EXPECT_LT(seconds_between(*retry, *second_retry), 31.5);
	auto registered = daemon.wait_line("norvel is reged", 2, 23s);
	ASSERT_TRUE(registered) << "the norvel that started cleanly did not register";
	EXPECT_GT(seconds_between(*second_retry, *registered), 19.9);
	EXPECT_LT(seconds_between(*second_retry, *registered), 21.5);
	EXPECT_TRUE(daemon.wait_line("norvel reged after 2 retries", 1, 1s));
	auto clean = daemon.wait_norvel(2, 1s);
	ASSERT_TRUE(clean);

	std::this_thread::sleep_for(4s);
	ASSERT_TRUE(expect_hang_caught(daemon, *clean, 3));
	EXPECT_EQ((strings{"norvel is reged", "sem_hb recv timed out", "norvel is reboot",
			   "norvel not reged in 10 s, retry 1", "norvel not reged in 20 s, retry 2",
			   "norvel is reged", "norvel reged after 2 retries",
			   "sem_hb recv timed out", "norvel is reboot", "norvel is reged"}),
		  daemon.daemon_lines());
	std::ifstream starts("/var/norvel-starts");
	EXPECT_EQ(5, std::count(std::istreambuf_iterator<char>(starts), {}, '\n'));
}

// Nobody starts norvel: 30 s after the bind the daemon launches one
// through the reboot path, and it registers.
TEST(Relaunch, DaemonStartedWithoutNorvelLaunchesOne)
{
	daemon_run daemon;
	ASSERT_TRUE(daemon.wait_socket(3s));
	auto bound = steady::now();
	auto launch = daemon.wait_line("norvel not reged in 30 s, launch", 1, 33s);
	ASSERT_TRUE(launch);
	EXPECT_GT(seconds_between(bound, *launch), 29.9);
	EXPECT_LT(seconds_between(bound, *launch), 31.0);
	auto registered = daemon.wait_line("norvel is reged", 1, 8s);
	ASSERT_TRUE(registered);
	EXPECT_GT(seconds_between(*launch, *registered), 4.9);
	EXPECT_LT(seconds_between(*launch, *registered), 6.5);
	EXPECT_EQ((strings{"norvel not reged in 30 s, launch", "norvel is reged"}),
		  daemon.daemon_lines());
}

// /var read-only at start: the bind is refused, said once, and tried every
// 2 s; once /var is writable the socket is bound, and norvel is supervised.
TEST(Startup, ControlSocketIsBoundOnceVarIsWritable)
{
	ASSERT_EQ(0, system("mount -o remount,ro /var"));
	daemon_run daemon;
	std::this_thread::sleep_for(5s);  // three tries
	EXPECT_FALSE(daemon.wait_socket(0ms));
	ASSERT_EQ(0, system("mount -o remount,rw /var"));
	auto writable = steady::now();
	ASSERT_TRUE(daemon.wait_socket(3s));
	EXPECT_LT(seconds_between(writable, steady::now()), 2.5);
	auto bound = daemon.wait_line(
		[](const std::string &line) { return line.rfind("socket bound after ", 0) == 0; },
		1, 1s);
	ASSERT_TRUE(bound);
	std::string refused = "bind error: Read-only file system\n";
	std::string errors = daemon.error_output();
	EXPECT_NE(std::string::npos, errors.find(refused)) << errors;
	EXPECT_EQ(errors.find(refused), errors.rfind(refused)) << "said more than once: " << errors;

	auto norvel = start_registered_norvel(daemon);
	ASSERT_TRUE(norvel);
	std::this_thread::sleep_for(4s);
	ASSERT_TRUE(expect_hang_caught(daemon, *norvel, 2));
	auto lines = daemon.daemon_lines();
	ASSERT_EQ(5u, lines.size());
	int tries = atoi(lines[0].c_str() + strlen("socket bound after "));
	EXPECT_TRUE(tries >= 3 && tries <= 4) << lines[0];
	EXPECT_EQ((strings{"norvel is reged", "sem_hb recv timed out", "norvel is reboot",
			   "norvel is reged"}),
		  strings(lines.begin() + 1, lines.end()));
}

// The sandbox's /dev/watchdog, a FIFO, refuses the timeout as a driver
// might: reported, and feeding goes on.
TEST(Startup, RefusedWatchdogTimeoutIsReported)
{
	daemon_run daemon;
	ASSERT_TRUE(daemon.wait_socket(3s));
	std::this_thread::sleep_for(5500ms);
	EXPECT_EQ(0u, daemon.error_output().rfind("WDIOC_SETTIMEOUT: ", 0)) << daemon.error_output();
	expect_regular_feeds(daemon.feeds(), 2);
}

// A daemon whose threads did not start would feed the watchdog and supervise
// nothing; one without its SIGPIPE handler would die with its log reader.
TEST(Startup, FailedStartupCallsAreFatal)
{
	if (getenv("SANDBOX_DAEMON") != nullptr)
		GTEST_SKIP() << "the C library's calls of a program under qemu-arm cannot be replaced";
	for (const char *call : {"sigaction", "pthread_attr_setstacksize", "pthread_create"}) {
		SCOPED_TRACE(call);
		daemon_run daemon(true, {"LD_PRELOAD=" + program("FAILING_CALLS_LIB"),
					 std::string("FAIL_CALL=") + call,
					 "ASAN_OPTIONS=verify_asan_link_order=0"});
		auto status = daemon.wait_exit(5s);
		ASSERT_TRUE(status) << "the daemon went on";
		EXPECT_TRUE(WIFEXITED(*status));
		EXPECT_EQ(1, WEXITSTATUS(*status));
		EXPECT_NE(std::string::npos, daemon.error_output().find(std::string(call) + ": "))
			<< daemon.error_output();
	}
}

TEST(Startup, WithoutWatchdogExitsBeforeCreatingTheSocket)
{
	ASSERT_EQ(0, unlink("/dev/watchdog"));
	unlink("/var/daemon");
	{
		daemon_run daemon(false);
		auto status = daemon.wait_exit(5s);
		ASSERT_TRUE(status) << "daemon did not exit";
		EXPECT_TRUE(WIFEXITED(*status));
		EXPECT_EQ(1, WEXITSTATUS(*status));
		EXPECT_TRUE(daemon.wait_line("failed to open watchdog", 1, 2s));
		EXPECT_EQ(strings{"failed to open watchdog"}, daemon.daemon_lines());
	}
	struct stat st;
	EXPECT_NE(0, lstat("/var/daemon", &st)) << "socket created without a watchdog";
	ASSERT_EQ(0, mkfifo("/dev/watchdog", 0600));  // for the scenarios after this one
}

// Drives the real daemon inside the sandbox (see ./sandbox): starts it
// with its output on a pipe, reads /dev/watchdog to see the feeds, and
// looks at processes through /proc.  Shared by the integration tests and
// the benchmark.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace sandbox {

using steady = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct timed_line {
	steady::time_point at;
	std::string text;
};

struct feed {
	steady::time_point at;
	unsigned char byte;
};

// A program of the build, named by an environment variable that the sandbox
// script or ctest sets; aborts with a message when it is not set.
std::string program(const char *env_name);

double seconds_between(steady::time_point from, steady::time_point to);

// The daemon, started by the constructor and killed by the destructor
// together with every norvel of the sandbox.
class daemon_run {
public:
	// `watchdog`: open /dev/watchdog for reading first (the daemon's open
	// of the FIFO waits for a reader). `environment`: NAME=VALUE strings
	// added to the daemon's.
	explicit daemon_run(bool watchdog = true, const std::vector<std::string> &environment = {});
	~daemon_run();
	daemon_run(const daemon_run &) = delete;
	daemon_run &operator=(const daemon_run &) = delete;

	pid_t pid() const { return pid_; }

	// Kills the daemon with SIGKILL, as a crash would, and reaps it; its
	// socket file stays behind, and the norvels run on.
	void crash();
	// Starts a new daemon after crash(), as a respawning start-up script
	// would: same environment, output, error file and watchdog reader.
	void start_again();

	// Starts /home/app/norvel in the background through the shell, as the
	// board's start-up script does, its output and errors joined to the
	// daemon's output.
	void start_norvel();

	// Lines of standard output: the daemon's, those of the norvels it
	// launched (they inherit it) and of those start_norvel() started, with
	// the time each was read.
	std::vector<timed_line> lines() const;
	// The daemon's own lines: the output without norvel's "norvel[" ones.
	std::vector<std::string> daemon_lines() const;
	std::vector<feed> feeds() const;
	// What the daemon wrote to its standard error (perror lines), which
	// goes to a file of its own.
	std::string error_output() const;

	// The reader of the daemon's output goes away, as a `daemon | logger`
	// does when logger restarts: the daemon's next line meets a closed pipe.
	void close_output();

	// Time of the `count`-th line equal to `text` (or satisfying `match`),
	// waiting up to `timeout` for it.
	std::optional<steady::time_point> wait_line(const std::string &text, size_t count,
						    milliseconds timeout);
	std::optional<steady::time_point> wait_line(const std::function<bool(const std::string &)> &match,
						    size_t count, milliseconds timeout);
	// Pid of the `count`-th norvel that announced itself ("norvel[PID]: started").
	std::optional<pid_t> wait_norvel(size_t count, milliseconds timeout);

	bool wait_socket(milliseconds timeout);  // /var/daemon is a socket
	// The daemon's wait status, or nullopt if it still runs after `timeout`.
	std::optional<int> wait_exit(milliseconds timeout);

private:
	void spawn();
	void read_output();
	void read_watchdog();

	pid_t pid_ = -1;
	bool reaped_ = false;
	int output_fd_ = -1;
	int output_write_fd_ = -1;  // for each daemon started and the norvels the test starts
	int watchdog_fd_ = -1;
	int error_fd_ = -1;
	std::vector<std::string> environment_;
	std::string error_path_;
	std::atomic<bool> stopping_{false};
	std::atomic<bool> output_closed_{false};
	mutable std::mutex mutex_;
	std::condition_variable changed_;
	std::vector<timed_line> lines_;
	std::vector<feed> feeds_;
	std::thread output_reader_, watchdog_reader_;
};

// True once `pid` has ended (gone, or a zombie not yet reaped).
bool process_gone(pid_t pid);
bool wait_gone(pid_t pid, milliseconds timeout);
// What the descriptors of `pid` point at ("/dev/watchdog", "socket:[123]", ...).
std::vector<std::string> descriptor_targets(pid_t pid);
// Sum of voluntary context switches over all threads of `pid`.
long voluntary_switches(pid_t pid);
// A field of /proc/PID/status in kB (e.g. "VmRSS"), or -1.
long status_kb(pid_t pid, const char *field);

}  // namespace sandbox

// Benchmark of the daemon, run inside tests/daemon/sandbox (`make bench`):
// size, resident memory and wake-ups, idle and while supervising norvel, and
// the delay from the end of a heartbeat window to the kill command.
// Prints numbers; passes or fails nothing.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "control.h"
#include "sandbox_harness.h"

using namespace sandbox;
using namespace std::chrono_literals;

namespace {

const auto WAKEUP_SPAN = 30s;
// Idle ends before the start-up grace runs out and the daemon launches
// norvel itself (30 s after its bind).
const auto IDLE_SPAN = 25s;
const int KILL_SAMPLES = 3;

double wall_clock_now()
{
	timespec now;
	clock_gettime(CLOCK_REALTIME, &now);
	return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

void send_command(int32_t cmd)
{
	daemon_msg msg = {cmd, 0};
	if (sendto_unix_socket(DAEMON_SOCKET_PATH, &msg, sizeof msg) != 8) {
		fprintf(stderr, "daemon_bench: cannot talk to the daemon\n");
		exit(1);
	}
}

void need(bool ok, const char *what)
{
	if (!ok) {
		fprintf(stderr, "daemon_bench: %s\n", what);
		exit(1);
	}
}

long file_size(const std::string &path)
{
	struct stat st;
	return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

void write_script(const char *path, const std::string &text)
{
	std::ofstream(path) << text;
	chmod(path, 0755);
}

// Resident memory now, then the daemon's voluntary context switches over
// `span`, scaled to a minute.
void measure_rest(const daemon_run &daemon, const char *state, std::chrono::seconds span)
{
	printf("%-32s %7ld kB\n", ("resident memory, " + std::string(state)).c_str(),
	       status_kb(daemon.pid(), "VmRSS"));
	long before = voluntary_switches(daemon.pid());
	std::this_thread::sleep_for(span);
	long after = voluntary_switches(daemon.pid());
	double per_minute = static_cast<double>(after - before) * 60.0 /
			    std::chrono::duration<double>(span).count();
	printf("%-32s %7.0f    (voluntary context switches, all threads)\n",
	       ("wake-ups per minute, " + std::string(state)).c_str(), per_minute);
	fflush(stdout);
}

}  // namespace

int main()
{
	setvbuf(stdout, nullptr, _IOLBF, 0);
	std::string daemon_bin = program("DAEMON_BIN");
	std::string stripped = "/var/daemon.stripped";
	need(system(("strip -o " + stripped + " " + daemon_bin).c_str()) == 0, "strip failed");
	printf("daemon benchmark (%s)\n", daemon_bin.c_str());
	printf("%-32s %7ld bytes (unstripped %ld)\n", "size, stripped", file_size(stripped),
	       file_size(daemon_bin));
	fflush(stdout);

	{
		daemon_run daemon;
		need(daemon.wait_socket(3s), "daemon did not start");
		std::this_thread::sleep_for(2s);
		measure_rest(daemon, "idle", IDLE_SPAN);

		daemon.start_norvel();
		need(daemon.wait_line("norvel is reged", 1, 5s).has_value(), "norvel did not register");
		std::this_thread::sleep_for(2s);
		measure_rest(daemon, "supervising", WAKEUP_SPAN);
	}

	// The kill command goes through a killall that first notes the time;
	// the relaunched "norvel" does nothing, so that the bench alone talks to
	// the daemon.
	mkdir("/var/bench-bin", 0755);
	write_script("/var/bench-bin/killall",
		     "#!/bin/sh\ndate +%s.%N >>/var/bench-kills\nexec /usr/bin/killall \"$@\" 2>/dev/null\n");
	write_script("/home/app/norvel", "#!/bin/sh\nexit 0\n");
	const char *path = getenv("PATH");
	setenv("PATH", (std::string("/var/bench-bin:") + (path ? path : "/usr/bin:/bin")).c_str(), 1);

	std::vector<double> delays;
	unlink(DAEMON_SOCKET_PATH);  // left by the daemon before
	{
		daemon_run daemon;
		need(daemon.wait_socket(3s), "daemon did not start");
		for (int i = 1; i <= KILL_SAMPLES; ++i) {
			send_command(DAEMON_CMD_REGISTER);
			std::this_thread::sleep_for(2200ms);  // past the monitor's idle poll
			send_command(DAEMON_CMD_HEARTBEAT);
			double window_end = wall_clock_now() + 10.0;
			need(daemon.wait_line("norvel is reboot", static_cast<size_t>(i), 13s).has_value(),
			     "no reboot after the window");
			std::this_thread::sleep_for(500ms);
			std::vector<double> kills;
			std::ifstream log("/var/bench-kills");
			for (double t; log >> t;)
				kills.push_back(t);
			need(kills.size() == static_cast<size_t>(i), "kill command not seen");
			delays.push_back(kills.back() - window_end);
			std::this_thread::sleep_for(5s);  // the relaunch pause
		}
	}
	double sum = 0;
	for (double d : delays)
		sum += d;
	printf("%-32s %7.1f ms mean, %.1f ms max (%d samples)\n", "window end to kill command",
	       sum / static_cast<double>(delays.size()) * 1e3, *std::max_element(delays.begin(), delays.end()) * 1e3,
	       KILL_SAMPLES);
	return 0;
}

// norvel: sample application supervised by the daemon.
//
// This is what an application needs in order to be supervised:
//   1. once at start, send DAEMON_CMD_REGISTER;
//   2. then send DAEMON_CMD_HEARTBEAT at once, and afterwards more often
//      than every 10 seconds from the place whose progress proves the
//      application healthy (here the main loop); if 10 s pass without
//      one, the daemon runs "killall -9 norvel" and, 5 s later,
//      "/home/app/norvel &";
//   3. to be restarted on purpose, send DAEMON_CMD_REBOOT.
// Every command is one 8-byte daemon_msg sent to /var/daemon with
// sendto_unix_socket() from control.h; the daemon does not reply.
//
// For trying the supervision out:
//   kill -USR1 <pid>   stops the heartbeats, as if the main loop hung;
//   kill -USR2 <pid>   asks the daemon for a restart.
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "control.h"

// Comfortably below the daemon's 10-s window, so that one late or lost
// heartbeat is not fatal.
static const unsigned HEARTBEAT_PERIOD_SEC = 3;

// Signal handlers only raise flags; the main loop acts on them.
static volatile sig_atomic_t hang_requested = 0;
static volatile sig_atomic_t restart_requested = 0;

static void on_sigusr1(int) { hang_requested = 1; }
static void on_sigusr2(int) { restart_requested = 1; }

static bool send_to_daemon(int32_t cmd)
{
	daemon_msg msg = {cmd, 0};
	return sendto_unix_socket(DAEMON_SOCKET_PATH, &msg, sizeof msg) ==
	       static_cast<ssize_t>(sizeof msg);
}

static void install_handler(int signo, void (*handler)(int))
{
	struct sigaction action;
	memset(&action, 0, sizeof action);
	action.sa_handler = handler;
	// No SA_RESTART: a signal cuts the main loop's sleep short, so that
	// it is acted on at once.
	sigaction(signo, &action, nullptr);
}

int main()
{
	// One line per event, also when the output goes to a log file.
	setvbuf(stdout, nullptr, _IOLBF, 0);
	install_handler(SIGUSR1, on_sigusr1);
	install_handler(SIGUSR2, on_sigusr2);

	const int pid = getpid();
	printf("norvel[%d]: started\n", pid);

	// The daemon may still be starting: retry until the register goes out.
	while (!send_to_daemon(DAEMON_CMD_REGISTER)) {
		printf("norvel[%d]: daemon not reachable, retrying in %u s\n", pid, HEARTBEAT_PERIOD_SEC);
		sleep(HEARTBEAT_PERIOD_SEC);
	}
	printf("norvel[%d]: register sent to the daemon\n", pid);
	// Heartbeat at once: after a restart the daemon's monitor may still be
	// timing the window of the instance before us, which ends up to 5 s
	// after our start; a heartbeat now starts a fresh window for us.
	send_to_daemon(DAEMON_CMD_HEARTBEAT);

	bool hanging = false;
	for (;;) {
		sleep(HEARTBEAT_PERIOD_SEC);  // the application's real work goes here

		if (restart_requested) {
			restart_requested = 0;
			printf("norvel[%d]: SIGUSR2: asking the daemon for a restart\n", pid);
			send_to_daemon(DAEMON_CMD_REBOOT);
			continue;  // the daemon kills us next; a heartbeat now would be refused
		}
		if (hang_requested && !hanging) {
			hanging = true;
			printf("norvel[%d]: SIGUSR1: simulating a hang, heartbeats stop\n", pid);
		}
		if (!hanging)
			send_to_daemon(DAEMON_CMD_HEARTBEAT);
	}
}

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
#include <unistd.h>

#include "control.h"

// Comfortably below the daemon's 10-s window, so that one late or lost
// heartbeat is not fatal.
static const unsigned HEARTBEAT_PERIOD_SEC = 3;

static bool send_to_daemon(int32_t cmd)
{
	daemon_msg msg = {cmd, 0};
	return sendto_unix_socket(DAEMON_SOCKET_PATH, &msg, sizeof msg) ==
	       static_cast<ssize_t>(sizeof msg);
}

int main()
{
	// One line per event, also when the output goes to a log file.
	setvbuf(stdout, nullptr, _IOLBF, 0);

	// SIGUSR1 and SIGUSR2 are blocked and taken by the main loop's wait, so
	// that one arriving at any moment is acted on at once.
	sigset_t test_signals;
	sigemptyset(&test_signals);
	sigaddset(&test_signals, SIGUSR1);
	sigaddset(&test_signals, SIGUSR2);
	sigprocmask(SIG_BLOCK, &test_signals, nullptr);

	const int pid = getpid();
	printf("norvel[%d]: started\n", pid);

	// The daemon may still be starting: retry until the register goes out.
	while (!send_to_daemon(DAEMON_CMD_REGISTER)) {
		printf("norvel[%d]: daemon not reachable, retrying in %u s\n", pid, HEARTBEAT_PERIOD_SEC);
		sleep(HEARTBEAT_PERIOD_SEC);
	}
	printf("norvel[%d]: register sent to the daemon\n", pid);

	bool hanging = false;
	for (;;) {
		// The application's real work goes here; this sample only waits
		// for its next heartbeat or a test signal.
		timespec period = {HEARTBEAT_PERIOD_SEC, 0};
		int signo = sigtimedwait(&test_signals, nullptr, &period);

		if (signo == SIGUSR2) {
			printf("norvel[%d]: SIGUSR2: asking the daemon for a restart\n", pid);
			send_to_daemon(DAEMON_CMD_REBOOT);
			continue;  // the daemon kills us next; a heartbeat now would be refused
		}
		if (signo == SIGUSR1 && !hanging) {
			hanging = true;
			printf("norvel[%d]: SIGUSR1: simulating a hang, heartbeats stop\n", pid);
		}
		if (!hanging)
			send_to_daemon(DAEMON_CMD_HEARTBEAT);
	}
}

// norvel: sample application supervised by the daemon.
//
// This is what an application needs in order to be supervised, with the
// client of client.h (link the daemon_control library):
//   1. once at start, daemon_client_init() and daemon_client_register();
//   2. then daemon_client_heartbeat() more often than every 10 seconds
//      from the place whose progress proves the application healthy (here
//      the main loop); if 10 s pass without one, the daemon runs
//      "killall -9 norvel" and, 5 s later, "/home/app/norvel &";
//   3. to be restarted on purpose, daemon_client_request_restart().
// A daemon that is restarted (it crashed, or was started again) knows
// nobody: the heartbeat notices the new daemon and registers with it
// first.  The calls never block and print nothing; they return a negative
// errno on failure.
//
// For trying the supervision out:
//   kill -USR1 <pid>   stops the heartbeats, as if the main loop hung;
//   kill -USR2 <pid>   asks the daemon for a restart.
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "client.h"

// Comfortably below the daemon's 10-s window, so that one late or lost
// heartbeat is not fatal.
static const unsigned HEARTBEAT_PERIOD_SEC = 3;

// Prints what a call returned, when it says something worth a line.
static void report(int pid, const char *what, int result)
{
	if (result == DAEMON_CLIENT_REGISTERED)
		printf("norvel[%d]: registered again with a new daemon\n", pid);
	else if (result < 0)
		fprintf(stderr, "norvel[%d]: %s not sent: %s\n", pid, what, strerror(-result));
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

	daemon_client daemon;
	daemon_client_init(&daemon, DAEMON_SOCKET_PATH);
	// The daemon may still be starting: retry until the register goes out.
	for (;;) {
		int result = daemon_client_register(&daemon);
		if (result == 0)
			break;
		report(pid, "register", result);
		printf("norvel[%d]: daemon not reachable, retrying in %u s\n", pid,
		       HEARTBEAT_PERIOD_SEC);
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
			report(pid, "restart request", daemon_client_request_restart(&daemon));
			continue;  // the daemon kills us next; a heartbeat now would be refused
		}
		if (signo == SIGUSR1 && !hanging) {
			hanging = true;
			printf("norvel[%d]: SIGUSR1: simulating a hang, heartbeats stop\n", pid);
		}
		if (!hanging)
			report(pid, "heartbeat", daemon_client_heartbeat(&daemon));
	}
}

// daemon: arms and feeds the hardware watchdog and supervises norvel.
#include <errno.h>
#include <fcntl.h>
#include <linux/watchdog.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "supervisor.h"

namespace {

// pthread functions return their error instead of setting errno.
void exit_on_thread_error(int error, const char *what)
{
	if (error == 0)
		return;
	errno = error;
	perror(what);
	exit(1);
}

void ignore_signal(int) {}

}  // namespace

int main()
{
	// Event lines must reach a log file or pipe as they happen.
	setvbuf(stdout, nullptr, _IOLBF, 0);
	// A log reader that goes away (`daemon | logger`, and logger restarts)
	// must not kill the daemon: the watchdog would reset the board. A
	// handler rather than SIG_IGN, because SIG_IGN would pass on to norvel
	// and the shells through exec, a handler does not.
	struct sigaction broken_pipe = {};
	broken_pipe.sa_handler = ignore_signal;
	if (sigaction(SIGPIPE, &broken_pipe, nullptr) != 0) {
		perror("sigaction");
		exit(1);
	}

	// Close-on-exec: norvel and the shells must not hold the watchdog open,
	// or a restarted daemon could not open it again.
	int watchdog = open(WATCHDOG_DEVICE, O_WRONLY | O_CLOEXEC);
	if (watchdog < 0) {
		puts("failed to open watchdog");
		exit(1);
	}
	// The board resets after the driver's own timeout then; feeding every
	// 5 s still suits any timeout above that.
	int timeout = WATCHDOG_TIMEOUT_SEC;
	if (ioctl(watchdog, WDIOC_SETTIMEOUT, &timeout) < 0)
		perror("WDIOC_SETTIMEOUT");

	if (monotonic_sem_init(&g_daemon.sem_hb, 0) != 0) {
		perror("sem_init");
		exit(1);
	}

	// A daemon whose monitor never started would feed the watchdog and
	// supervise nothing: better to fail where the start-up script sees it.
	pthread_attr_t attr;
	exit_on_thread_error(pthread_attr_init(&attr), "pthread_attr_init");
	exit_on_thread_error(pthread_attr_setstacksize(&attr, THREAD_STACK_SIZE),
			     "pthread_attr_setstacksize");
	pthread_t control_thread, monitor_thread;
	exit_on_thread_error(pthread_create(&control_thread, &attr, unix_msg_thread, &g_daemon),
			     "pthread_create");
	exit_on_thread_error(pthread_create(&monitor_thread, &attr, hb_check_thread, &g_daemon),
			     "pthread_create");

	// Never closed: closing would let the driver stop the watchdog or reboot.
	static const char feed = 0;
	for (;;) {
		if (write(watchdog, &feed, 1) < 0) {
			// Ignored: the next feed comes in 5 s, and if feeding keeps
			// failing the watchdog resets the board, as it should.
		}
		sleep(WATCHDOG_FEED_PERIOD_SEC);
	}
}

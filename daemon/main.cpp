// daemon: arms and feeds the hardware watchdog and supervises norvel.
#include <fcntl.h>
#include <linux/watchdog.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "supervisor.h"

int main()
{
	// Event lines must reach a log file or pipe as they happen.
	setvbuf(stdout, nullptr, _IOLBF, 0);

	// Close-on-exec: norvel and the shells must not hold the watchdog open,
	// or a restarted daemon could not open it again.
	int watchdog = open(WATCHDOG_DEVICE, O_WRONLY | O_CLOEXEC);
	if (watchdog < 0) {
		puts("failed to open watchdog");
		exit(1);
	}
	int timeout = WATCHDOG_TIMEOUT_SEC;
	ioctl(watchdog, WDIOC_SETTIMEOUT, &timeout);

	if (monotonic_sem_init(&g_daemon.sem_hb, 0) != 0) {
		perror("sem_init");
		exit(1);
	}

	pthread_attr_t attr;
	pthread_attr_init(&attr);
	pthread_attr_setstacksize(&attr, THREAD_STACK_SIZE);
	pthread_t control_thread, monitor_thread;
	pthread_create(&control_thread, &attr, unix_msg_thread, &g_daemon);
	pthread_create(&monitor_thread, &attr, hb_check_thread, &g_daemon);

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

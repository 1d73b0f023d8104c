#include "supervisor.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

daemon_state g_daemon;

supervisor_hooks g_supervisor_hooks = {system, sleep};

int handle_msg(daemon_state *state, const daemon_msg *msg)
{
	if (msg->cmd == DAEMON_CMD_REGISTER) {
		// Only the control thread registers; the monitor only reboots.
		if (state->registered.load() != 0) {
			puts("msg is err");
			return -1;
		}
		// Counted before the flag is set: a monitor that sees the flag
		// also sees which registration it watches.
		state->registrations.fetch_add(1);
		state->registered.store(1);
		puts("norvel is reged");
		return 0;
	}
	if (state->registered.load() == 0) {
		puts("msg is err");
		return -1;
	}
	switch (msg->cmd) {
	case DAEMON_CMD_HEARTBEAT:
		monotonic_sem_post(&state->sem_hb);
		return 0;
	case DAEMON_CMD_REBOOT:
		// The control thread and the monitor may both get here; only the
		// one that clears the flag restarts norvel.
		if (state->registered.exchange(0) == 0) {
			puts("msg is err");
			return -1;
		}
		puts("norvel is reboot");
		g_supervisor_hooks.run_shell(KILL_COMMAND);
		g_supervisor_hooks.pause(RELAUNCH_PAUSE_SEC);
		g_supervisor_hooks.run_shell(LAUNCH_COMMAND);
		return 0;
	default:
		puts("cmd is not support");
		return -1;
	}
}

int handle_datagram(daemon_state *state, const void *data, ssize_t len)
{
	daemon_msg msg;
	if (len < static_cast<ssize_t>(sizeof msg)) {
		puts("msg recv is error");
		return -1;
	}
	memcpy(&msg, data, sizeof msg);
	return handle_msg(state, &msg);
}

hb_window_result hb_check_window(daemon_state *state, long window_ms)
{
	uint32_t watched = state->registrations.load();
	timespec deadline = monotonic_deadline_in(window_ms);
	if (monotonic_sem_timedwait(&state->sem_hb, &deadline) == 0)
		return HB_ALIVE;
	if (errno != ETIMEDOUT) {
		perror("sem_timedwait");
		return HB_WAIT_FAILED;
	}
	// Restarted while the window ran (norvel asked for it): the window
	// belonged to the old instance, and killing the new one, which may not
	// have sent its first heartbeat yet, would be wrong.
	if (state->registered.load() == 0 || state->registrations.load() != watched)
		return HB_INSTANCE_GONE;
	puts("sem_hb recv timed out");
	daemon_msg reboot = {DAEMON_CMD_REBOOT, 0};
	handle_msg(state, &reboot);
	return HB_TIMED_OUT;
}

void *hb_check_thread(void *arg)
{
	daemon_state *state = static_cast<daemon_state *>(arg);
	for (;;) {
		while (state->registered.load() == 0)
			sleep(IDLE_POLL_SEC);
		hb_check_window(state, HEARTBEAT_WINDOW_MS);
	}
}

void *unix_msg_thread(void *arg)
{
	daemon_state *state = static_cast<daemon_state *>(arg);
	int fd = create_unix_socket(DAEMON_SOCKET_PATH);
	if (fd < 0)
		return nullptr;

	sockaddr_un sender;  // received, never used
	socklen_t sender_len = sizeof sender;
	for (;;) {
		unsigned char datagram[sizeof(daemon_msg)];
		// A longer datagram is cut to its first 8 bytes by the socket.
		ssize_t n = recvfrom(fd, datagram, sizeof datagram, 0,
				     reinterpret_cast<sockaddr *>(&sender), &sender_len);
		handle_datagram(state, datagram, n);
	}
}

#include "supervisor.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

daemon_state g_daemon;

supervisor_hooks g_supervisor_hooks = {system, sleep, monotonic_now_ms};

launch_backoff launch_backoff_failed(launch_backoff backoff)
{
	backoff.failures++;
	backoff.pause_sec = std::min(2 * backoff.pause_sec, BACKOFF_CAP_SEC);
	backoff.register_wait_sec = std::min(2 * backoff.register_wait_sec, BACKOFF_CAP_SEC);
	backoff.waiting = WAIT_NONE;
	return backoff;
}

launch_backoff launch_backoff_wait(launch_backoff backoff, register_wait what, unsigned wait_sec,
				   int64_t now_ms)
{
	backoff.waiting = what;
	backoff.wait_sec = wait_sec;
	backoff.deadline_ms = now_ms + static_cast<int64_t>(wait_sec) * 1000;
	return backoff;
}

int64_t launch_backoff_left_ms(const launch_backoff &backoff, int64_t now_ms)
{
	if (backoff.waiting == WAIT_NONE)
		return -1;
	return std::max(backoff.deadline_ms - now_ms, int64_t{0});
}

namespace {

// Holds the state's launch_lock for a scope.
class launch_lock_guard {
public:
	explicit launch_lock_guard(daemon_state *state) : lock_(&state->launch_lock)
	{
		pthread_mutex_lock(lock_);
	}
	~launch_lock_guard() { pthread_mutex_unlock(lock_); }
	launch_lock_guard(const launch_lock_guard &) = delete;
	launch_lock_guard &operator=(const launch_lock_guard &) = delete;

private:
	pthread_mutex_t *lock_;
};

// The shell's answer is reported when it says the command did not run at
// all; killall's "no process found" (status 1) is the usual case and not.
void run_command(const char *command)
{
	int status = g_supervisor_hooks.run_shell(command);
	if (status == -1)
		perror(command);
	else if (WIFEXITED(status) && (WEXITSTATUS(status) == 126 || WEXITSTATUS(status) == 127))
		fprintf(stderr, "%s: shell status %d\n", command, WEXITSTATUS(status));
}

// The reboot path: every norvel killed, a pause, a new one launched, which
// then has the back-off's time to register.
void relaunch_norvel(daemon_state *state)
{
	unsigned pause_sec;
	{
		launch_lock_guard lock(state);
		pause_sec = state->launches.pause_sec;
		state->launches.waiting = WAIT_NONE;
	}
	run_command(KILL_COMMAND);
	g_supervisor_hooks.pause(pause_sec);
	run_command(LAUNCH_COMMAND);

	launch_lock_guard lock(state);
	// Registered meanwhile (during a pause on the monitor's thread): nothing to wait for.
	if (state->registered.load() == 0)
		state->launches = launch_backoff_wait(state->launches, WAIT_LAUNCH,
						      state->launches.register_wait_sec,
						      g_supervisor_hooks.now_ms());
}

}  // namespace

int handle_msg(daemon_state *state, const daemon_msg *msg)
{
	if (msg->cmd == DAEMON_CMD_REGISTER) {
		// Only the control thread registers; the monitor only reboots.
		bool refused;
		unsigned retries;
		{
			launch_lock_guard lock(state);
			refused = state->registered.load() != 0;
			retries = state->launches.failures;
			if (!refused) {
				state->launches = launch_backoff_initial();
				// Counted before the flag is set: a monitor that sees
				// the flag also sees which registration it watches.
				state->registrations.fetch_add(1);
				state->registered.store(1);
			}
		}
		if (refused) {
			puts("msg is err");
			return -1;
		}
		puts("norvel is reged");
		if (retries > 0)
			printf("norvel reged after %u %s\n", retries,
			       retries == 1 ? "retry" : "retries");
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
		relaunch_norvel(state);
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

long hb_check_unregistered(daemon_state *state)
{
	constexpr long idle_poll_ms = IDLE_POLL_SEC * 1000L;
	unsigned waited_sec, retry;
	{
		launch_lock_guard lock(state);
		if (state->registered.load() != 0)
			return 0;
		int64_t now_ms = g_supervisor_hooks.now_ms();
		int64_t left_ms = launch_backoff_left_ms(state->launches, now_ms);
		if (left_ms < 0)
			return idle_poll_ms;
		if (left_ms > 0)
			return static_cast<long>(std::min<int64_t>(left_ms, idle_poll_ms));
		waited_sec = state->launches.wait_sec;
		// The norvel init started is not ours: its launch starts the count.
		if (state->launches.waiting == WAIT_LAUNCH)
			state->launches = launch_backoff_failed(state->launches);
		state->launches.waiting = WAIT_NONE;
		retry = state->launches.failures;
	}
	if (retry == 0)
		printf("norvel not reged in %u s, launch\n", waited_sec);
	else
		printf("norvel not reged in %u s, retry %u\n", waited_sec, retry);
	relaunch_norvel(state);
	return 0;
}

void await_startup_register(daemon_state *state)
{
	launch_lock_guard lock(state);
	if (state->registered.load() == 0 && state->launches.waiting == WAIT_NONE)
		state->launches =
			launch_backoff_wait(state->launches, WAIT_STARTUP, STARTUP_GRACE_SEC,
					    g_supervisor_hooks.now_ms());
}

void *hb_check_thread(void *arg)
{
	daemon_state *state = static_cast<daemon_state *>(arg);
	for (;;) {
		if (state->registered.load() != 0) {
			hb_check_window(state, HEARTBEAT_WINDOW_MS);
			continue;
		}
		long idle_ms = hb_check_unregistered(state);
		if (idle_ms > 0) {
			timespec idle = {idle_ms / 1000, (idle_ms % 1000) * 1000000L};
			clock_nanosleep(CLOCK_MONOTONIC, 0, &idle, nullptr);
		}
	}
}

int bind_control_socket(const char *path)
{
	const char *reported = nullptr;
	int reported_errno = 0;
	for (unsigned tries = 1;; tries++) {
		const char *failed = nullptr;
		int fd = try_create_unix_socket(path, &failed);
		if (fd >= 0) {
			if (tries > 1)
				printf("socket bound after %u tries\n", tries);
			return fd;
		}
		if (failed != reported || errno != reported_errno) {
			reported = failed;
			reported_errno = errno;
			perror(failed);
		}
		g_supervisor_hooks.pause(SOCKET_RETRY_SEC);
	}
}

void *unix_msg_thread(void *arg)
{
	daemon_state *state = static_cast<daemon_state *>(arg);
	int fd = bind_control_socket(DAEMON_SOCKET_PATH);
	await_startup_register(state);

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

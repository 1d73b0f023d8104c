// The supervisor: registration and heartbeat supervision of norvel, shared
// by the control thread and the heartbeat monitor.
#pragma once

#include <atomic>
#include <pthread.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#include "control.h"
#include "monotonic_semaphore.h"

constexpr const char WATCHDOG_DEVICE[] = "/dev/watchdog";
constexpr int WATCHDOG_TIMEOUT_SEC = 15;
constexpr unsigned WATCHDOG_FEED_PERIOD_SEC = 5;
constexpr long HEARTBEAT_WINDOW_MS = 10 * 1000;
constexpr unsigned IDLE_POLL_SEC = 2;        // monitor's pace while nobody is registered
constexpr unsigned RELAUNCH_PAUSE_SEC = 5;   // between kill and relaunch
constexpr size_t THREAD_STACK_SIZE = 0x8000;
constexpr const char KILL_COMMAND[] = "killall -9 norvel";
constexpr const char LAUNCH_COMMAND[] = "/home/app/norvel &";
// A launched norvel that has not registered by then is launched again.
constexpr unsigned REGISTER_WAIT_SEC = 10;
// For the norvel that init starts right after the daemon; counted from
// the bind of the control socket, before which nobody can register.
constexpr unsigned STARTUP_GRACE_SEC = 30;
constexpr unsigned BACKOFF_CAP_SEC = 5 * 60;
constexpr unsigned SOCKET_RETRY_SEC = 2;

// What the monitor waits for while nobody is registered.
enum register_wait {
	WAIT_NONE,     // nothing: a relaunch is under way, or the socket is not bound
	WAIT_STARTUP,  // the norvel init started, for the start-up grace
	WAIT_LAUNCH,   // the norvel the daemon launched last
};

// Launches that lead to no register are retried for ever, and each one
// in a row that fails doubles both the pause before the next launch and
// that launch's time to register (each capped), so that a norvel that is
// merely slow to start is given time.  A register brings back the first
// values.  The functions are pure: callers bring the monotonic time.
struct launch_backoff {
	unsigned failures;           // launches in a row that no register followed
	unsigned pause_sec;          // between the kill and the next launch
	unsigned register_wait_sec;  // from the next launch to its register
	register_wait waiting;
	unsigned wait_sec;    // how long the current wait is
	int64_t deadline_ms;  // when it runs out
};

constexpr launch_backoff launch_backoff_initial()
{
	return {0, RELAUNCH_PAUSE_SEC, REGISTER_WAIT_SEC, WAIT_NONE, 0, 0};
}
launch_backoff launch_backoff_failed(launch_backoff backoff);
// Waits `wait_sec` from `now_ms` for a register.
launch_backoff launch_backoff_wait(launch_backoff backoff, register_wait what, unsigned wait_sec,
				   int64_t now_ms);
// Milliseconds left of the wait (0 once it has run out), or -1 when
// nothing is awaited.
int64_t launch_backoff_left_ms(const launch_backoff &backoff, int64_t now_ms);

struct daemon_state {
	std::atomic<int32_t> registered;  // 0 or 1: a norvel instance is monitored
	monotonic_semaphore sem_hb;       // one post per accepted heartbeat
	// Accepted registrations so far: tells a monitoring window whether the
	// instance it watches is still the registered one.
	std::atomic<uint32_t> registrations;
	// Taken around `launches` and the register that resets it, so that a
	// register cannot slip between the monitor's look and its retry.
	pthread_mutex_t launch_lock = PTHREAD_MUTEX_INITIALIZER;
	launch_backoff launches = launch_backoff_initial();
};

extern daemon_state g_daemon;

// How a reboot reaches the outside world: system(3), sleep(3) and the
// monotonic clock.  Tests put recorders and a clock of their own here.
struct supervisor_hooks {
	int (*run_shell)(const char *command);
	unsigned (*pause)(unsigned seconds);
	int64_t (*now_ms)() = monotonic_now_ms;
};

extern supervisor_hooks g_supervisor_hooks;

// Applies one command: 0 when carried out, -1 when refused.
int handle_msg(daemon_state *state, const daemon_msg *msg);

// Applies what one receive from the control socket returned: `len` bytes
// at `data`, or -1 for a failed receive.  The first 8 bytes are the
// command; anything shorter is reported and dropped.
int handle_datagram(daemon_state *state, const void *data, ssize_t len);

enum hb_window_result { HB_ALIVE, HB_TIMED_OUT, HB_WAIT_FAILED, HB_INSTANCE_GONE };

// One monitoring window: waits up to `window_ms` for a heartbeat and runs
// the reboot path when none comes, unless the instance it watched was
// restarted meanwhile (HB_INSTANCE_GONE).
hb_window_result hb_check_window(daemon_state *state, long window_ms);

// The monitor's look while nobody is registered: launches norvel when the
// wait for a register has run out, and returns how many milliseconds to
// sleep before the next look.
long hb_check_unregistered(daemon_state *state);

// Starts the wait for the register of the norvel that init started.
void await_startup_register(daemon_state *state);

// The control socket at `path`, tried every SOCKET_RETRY_SEC until it is
// bound (a read-only or not yet mounted /var).  The reason is printed
// when it first shows and when it changes, and one line when the socket
// is bound after failures.
int bind_control_socket(const char *path);

// Thread bodies; `state` is a daemon_state *.  Neither returns.
void *hb_check_thread(void *state);
void *unix_msg_thread(void *state);

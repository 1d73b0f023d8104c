// The supervisor: registration and heartbeat supervision of norvel, shared
// by the control thread and the heartbeat monitor.
#pragma once

#include <atomic>
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

struct daemon_state {
	std::atomic<int32_t> registered;  // 0 or 1: a norvel instance is monitored
	monotonic_semaphore sem_hb;       // one post per accepted heartbeat
	// Accepted registrations so far: tells a monitoring window whether the
	// instance it watches is still the registered one.
	std::atomic<uint32_t> registrations;
};

extern daemon_state g_daemon;

// How a reboot reaches the outside world: system(3) and sleep(3).  Tests
// put recorders here instead of running killall.
struct supervisor_hooks {
	int (*run_shell)(const char *command);
	unsigned (*pause)(unsigned seconds);
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

// Thread bodies; `state` is a daemon_state *.  Neither returns, except the
// control thread when its socket cannot be created.
void *hb_check_thread(void *state);
void *unix_msg_thread(void *state);

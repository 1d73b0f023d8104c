/* Client side of the supervisor daemon's control channel, for applications
 * written in C or C++: register, heartbeat, ask for a restart.
 *
 * The daemon removes and recreates its socket at every start, and a new
 * daemon knows nobody: an application that registered with an earlier one
 * would have its heartbeats refused for ever.  So before each heartbeat or
 * restart request the client looks at the socket file and, when it is not
 * the one its register went to (a new daemon), registers again first.
 *
 * Every call sends at most two datagrams and never waits: it neither
 * blocks on a daemon that is slow to read nor prints anything.  Failures
 * are returned as a negative errno value:
 *   -ENOENT        no socket file: the daemon has not started, or is gone
 *   -ECONNREFUSED  a socket file nobody listens on: the daemon died
 *   -EAGAIN        the daemon's queue is full; try again later
 *   -EACCES        no permission to send to the socket
 * The daemon never replies, so success means "sent", not "accepted".
 *
 * The state belongs to the caller; one client per thread, or a lock
 * around its calls. */
#ifndef DAEMON_CLIENT_H
#define DAEMON_CLIENT_H

#include <stdint.h>

#include "control.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct daemon_client {
	char socket_path[108]; /* the daemon's socket, NUL-terminated */
	/* 1 while the socket file identified below has taken our register. */
	int registered;
	/* Registers sent so far; a heartbeat that registered first and then
	 * failed shows here only. */
	unsigned registrations;
	/* Identity of that socket file.  The change time is part of it
	 * because a file system may give a new file the number of one just
	 * removed (ext4 does). */
	uint64_t socket_dev, socket_ino;
	int64_t socket_ctime_sec;
	long socket_ctime_nsec;
} daemon_client;

/* What a heartbeat or restart request returns on success. */
enum daemon_client_sent {
	DAEMON_CLIENT_SENT = 0,      /* sent to the daemon that has our register */
	DAEMON_CLIENT_REGISTERED = 1 /* registered first: a daemon new to us */
};

/* Prepares `client` for the daemon at `socket_path` (NULL: the board's
 * DAEMON_SOCKET_PATH).  Sends nothing.  Returns 0, or -ENAMETOOLONG when
 * the path does not fit a socket address. */
int daemon_client_init(daemon_client *client, const char *socket_path);

/* Sends DAEMON_CMD_REGISTER to the daemon listening now.  Returns 0 or a
 * negative errno; after a failure, the next heartbeat registers first. */
int daemon_client_register(daemon_client *client);

/* Sends DAEMON_CMD_HEARTBEAT, registering first with a daemon that has
 * not had our register (a new daemon, or an earlier register failed).
 * Returns DAEMON_CLIENT_SENT, DAEMON_CLIENT_REGISTERED or a negative
 * errno. */
int daemon_client_heartbeat(daemon_client *client);

/* Asks the daemon to kill and relaunch the application
 * (DAEMON_CMD_REBOOT), registering first as a heartbeat does.  The daemon
 * forgets the registration when it takes the request, so the client does
 * too.  Returns as daemon_client_heartbeat. */
int daemon_client_request_restart(daemon_client *client);

#ifdef __cplusplus
}
#endif

#endif

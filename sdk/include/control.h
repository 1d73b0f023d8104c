/* Control channel of the supervisor daemon: the datagram every client sends
 * and the two socket helpers.  Plain C so that C and C++ applications can
 * include it; the daemon never replies, so a client only ever sends. */
#ifndef DAEMON_CONTROL_H
#define DAEMON_CONTROL_H

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Where the daemon listens. */
#define DAEMON_SOCKET_PATH "/var/daemon"

enum daemon_cmd {
	DAEMON_CMD_REGISTER = 1,  /* a new norvel instance announces itself */
	DAEMON_CMD_HEARTBEAT = 2, /* the registered instance is alive */
	DAEMON_CMD_REBOOT = 3     /* kill and relaunch norvel */
};

/* One command, exactly 8 bytes in host byte order.  `arg` is not used by
 * the daemon; send 0. */
typedef struct daemon_msg {
	int32_t cmd;
	int32_t arg;
} daemon_msg;

/* Creates a datagram socket bound at `path` (a file left there by an earlier
 * run is removed first).  Returns the descriptor (close-on-exec) or -1 after
 * printing the reason. */
int create_unix_socket(const char *path);

/* The same for a server that retries until it can bind: prints nothing.
 * On failure returns -1 with errno set and `*failed` pointing at the line
 * create_unix_socket would have printed it under ("socket error" or
 * "bind error"), so that the caller can tell a new reason from a repeat. */
int try_create_unix_socket(const char *path, const char **failed);

/* Sends `len` bytes from `data` as one datagram to the socket at `path`,
 * through a socket of its own that it closes again.  Returns the number of
 * bytes sent, or -1 after printing the reason (e.g. nobody listens). */
ssize_t sendto_unix_socket(const char *path, const void *data, size_t len);

#ifdef __cplusplus
}
#endif

#endif

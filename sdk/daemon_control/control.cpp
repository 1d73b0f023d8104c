#include "control.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

static_assert(sizeof(daemon_msg) == 8, "daemon_msg is an 8-byte wire format");
// Both ends pass the whole address structure, not the length of the path.
static_assert(sizeof(sockaddr_un) == 110, "Linux Unix-domain address is 110 bytes");

// A path longer than the path field is cut; the field stays NUL-terminated.
static void make_unix_address(const char *path, sockaddr_un *address)
{
	memset(address, 0, sizeof *address);
	address->sun_family = AF_UNIX;
	snprintf(address->sun_path, sizeof address->sun_path, "%s", path);
}

// Close-on-exec: the programs the daemon starts must not inherit it.
static int datagram_socket()
{
	return socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}

extern "C" int try_create_unix_socket(const char *path, const char **failed)
{
	if (path == nullptr) {
		errno = EINVAL;
		*failed = "para error";
		return -1;
	}
	unlink(path);  // a socket file left by an earlier run would block the bind

	sockaddr_un address;
	make_unix_address(path, &address);

	int fd = datagram_socket();
	if (fd < 0) {
		*failed = "socket error";
		return -1;
	}
	if (bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) < 0) {
		int bind_errno = errno;
		close(fd);
		errno = bind_errno;
		*failed = "bind error";
		return -1;
	}
	return fd;
}

extern "C" int create_unix_socket(const char *path)
{
	if (path == nullptr) {
		puts("para error");
		return -1;
	}
	const char *failed = nullptr;
	int fd = try_create_unix_socket(path, &failed);
	if (fd < 0)
		perror(failed);
	return fd;
}

extern "C" ssize_t sendto_unix_socket(const char *path, const void *data, size_t len)
{
	if (path == nullptr) {
		puts("para is error");
		return -1;
	}
	sockaddr_un address;
	make_unix_address(path, &address);

	int fd = datagram_socket();
	if (fd < 0) {
		perror("socket error");
		return -1;
	}
	ssize_t sent = sendto(fd, data, len, 0, reinterpret_cast<const sockaddr *>(&address),
			      sizeof address);
	if (sent < 0) {
		perror("sendto error");
		close(fd);
		return -1;
	}
	close(fd);
	return sent;
}

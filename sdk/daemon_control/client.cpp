#include "client.h"

#include <errno.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

static_assert(sizeof(daemon_client::socket_path) == sizeof(sockaddr_un::sun_path),
	      "the client's path is a socket address's path");

namespace {

// Who listens at the path now: the file the daemon bound at its start.
struct socket_identity {
	uint64_t dev, ino;
	int64_t ctime_sec;
	long ctime_nsec;
};

int identify(const char *path, socket_identity *identity)
{
	struct stat st;
	if (stat(path, &st) != 0)
		return -errno;
	identity->dev = st.st_dev;
	identity->ino = st.st_ino;
	identity->ctime_sec = st.st_ctim.tv_sec;
	identity->ctime_nsec = st.st_ctim.tv_nsec;
	return 0;
}

bool is_registered_with(const daemon_client *client, const socket_identity &identity)
{
	return client->registered != 0 && client->socket_dev == identity.dev &&
	       client->socket_ino == identity.ino &&
	       client->socket_ctime_sec == identity.ctime_sec &&
	       client->socket_ctime_nsec == identity.ctime_nsec;
}

// One command from a socket of its own, so that the client holds no
// descriptor between calls.  The same address as sendto_unix_socket's.
int send_command(const daemon_client *client, int32_t cmd)
{
	sockaddr_un address;
	memset(&address, 0, sizeof address);
	address.sun_family = AF_UNIX;
	memcpy(address.sun_path, client->socket_path, sizeof address.sun_path);

	int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
	if (fd < 0)
		return -errno;
	daemon_msg msg = {cmd, 0};
	// A daemon that does not read, its queue full, must not stop the
	// application that reports to it.
	ssize_t sent = sendto(fd, &msg, sizeof msg, MSG_DONTWAIT,
			      reinterpret_cast<const sockaddr *>(&address), sizeof address);
	int result = sent < 0 ? -errno : 0;
	close(fd);
	return result;
}

int send_register(daemon_client *client, const socket_identity &identity)
{
	client->registered = 0;
	int result = send_command(client, DAEMON_CMD_REGISTER);
	if (result != 0)
		return result;
	client->registered = 1;
	client->registrations++;
	client->socket_dev = identity.dev;
	client->socket_ino = identity.ino;
	client->socket_ctime_sec = identity.ctime_sec;
	client->socket_ctime_nsec = identity.ctime_nsec;
	return 0;
}

// Registers unless the daemon listening now already has our register.
// The file is looked at before the send: a daemon replaced in between
// gets one refused command, and the next call registers with it.
int register_unless_known(daemon_client *client)
{
	socket_identity identity = {};
	int result = identify(client->socket_path, &identity);
	if (result != 0)
		return result;
	if (is_registered_with(client, identity))
		return DAEMON_CLIENT_SENT;
	result = send_register(client, identity);
	return result != 0 ? result : DAEMON_CLIENT_REGISTERED;
}

}  // namespace

extern "C" int daemon_client_init(daemon_client *client, const char *socket_path)
{
	if (client == nullptr)
		return -EINVAL;
	if (socket_path == nullptr)
		socket_path = DAEMON_SOCKET_PATH;
	memset(client, 0, sizeof *client);
	// A cut path would name another file than the one looked at.
	size_t length = strlen(socket_path);
	if (length >= sizeof client->socket_path)
		return -ENAMETOOLONG;
	memcpy(client->socket_path, socket_path, length + 1);
	return 0;
}

extern "C" int daemon_client_register(daemon_client *client)
{
	if (client == nullptr)
		return -EINVAL;
	socket_identity identity = {};
	int result = identify(client->socket_path, &identity);
	if (result != 0) {
		client->registered = 0;
		return result;
	}
	return send_register(client, identity);
}

namespace {

// Sends `cmd` to a daemon that has our register, registering first if
// it has not: DAEMON_CLIENT_SENT, DAEMON_CLIENT_REGISTERED or -errno.
int send_registered(daemon_client *client, int32_t cmd)
{
	if (client == nullptr)
		return -EINVAL;
	int registered = register_unless_known(client);
	if (registered < 0)
		return registered;
	int result = send_command(client, cmd);
	return result != 0 ? result : registered;
}

}  // namespace

extern "C" int daemon_client_heartbeat(daemon_client *client)
{
	return send_registered(client, DAEMON_CMD_HEARTBEAT);
}

extern "C" int daemon_client_request_restart(daemon_client *client)
{
	int result = send_registered(client, DAEMON_CMD_REBOOT);
	if (result >= 0)
		client->registered = 0;
	return result;
}

// daemonctl: sends one command to the supervisor daemon, by hand from the
// board's shell or from a test script.
//
//   daemonctl register|heartbeat|reboot [--socket PATH]
//
// Exit status: 0 the datagram was sent (the daemon never replies, so this
// does not say it was accepted; its answer is on its standard output),
// 1 it could not be sent (no daemon listening, no permission), 2 bad usage.
#include <stdio.h>
#include <string.h>

#include "control.h"

static void print_usage(FILE *to)
{
	fputs("usage: daemonctl register|heartbeat|reboot [--socket PATH]\n"
	      "Sends one command to the supervisor daemon (default socket " DAEMON_SOCKET_PATH ").\n"
	      "  register   announce a new norvel instance\n"
	      "  heartbeat  tell the daemon the registered instance is alive\n"
	      "  reboot     have the daemon kill and relaunch norvel\n"
	      "Exit status: 0 sent, 1 could not send, 2 bad usage.\n",
	      to);
}

static int usage_error(const char *fmt, const char *what)
{
	fputs("daemonctl: ", stderr);
	fprintf(stderr, fmt, what);
	fputs("\n", stderr);
	print_usage(stderr);
	return 2;
}

int main(int argc, char **argv)
{
	static const struct {
		const char *name;
		int32_t cmd;
	} commands[] = {
		{"register", DAEMON_CMD_REGISTER},
		{"heartbeat", DAEMON_CMD_HEARTBEAT},
		{"reboot", DAEMON_CMD_REBOOT},
	};

	const char *socket_path = DAEMON_SOCKET_PATH;
	const char *command = nullptr;
	for (int i = 1; i < argc; ++i) {
		if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0) {
			print_usage(stdout);
			return 0;
		}
		if (strcmp(argv[i], "--socket") == 0) {
			if (i + 1 == argc || argv[i + 1][0] == '\0')
				return usage_error("%s needs a path", "--socket");
			socket_path = argv[++i];
		} else if (argv[i][0] == '-') {
			return usage_error("unknown option '%s'", argv[i]);
		} else if (command != nullptr) {
			return usage_error("one command at a time ('%s' is extra)", argv[i]);
		} else {
			command = argv[i];
		}
	}
	if (command == nullptr)
		return usage_error("%s", "no command given");

	for (const auto &known : commands) {
		if (strcmp(command, known.name) != 0)
			continue;
		daemon_msg msg = {known.cmd, 0};
		if (sendto_unix_socket(socket_path, &msg, sizeof msg) != static_cast<ssize_t>(sizeof msg)) {
			fprintf(stderr, "daemonctl: could not send '%s' to %s (is the daemon running?)\n",
				command, socket_path);
			return 1;
		}
		return 0;
	}
	return usage_error("unknown command '%s'", command);
}

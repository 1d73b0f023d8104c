/* send_datagram: sends one datagram holding a daemon_msg, cut or padded
 * with zeros to SIZE bytes.  Written in C to show that control.h and its
 * library serve C programs.
 *
 *   send_datagram PATH CMD [SIZE]      (SIZE defaults to 8)
 *
 * Exit status: 0 when SIZE bytes were sent, 1 otherwise, 2 on bad usage. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "control.h"

int main(int argc, char **argv)
{
	unsigned char buffer[64] = {0};
	daemon_msg msg;
	long size = sizeof msg;
	char *end;

	if (argc < 3 || argc > 4) {
		fputs("usage: send_datagram PATH CMD [SIZE]\n", stderr);
		return 2;
	}
	msg.cmd = (int32_t)strtol(argv[2], &end, 0);
	msg.arg = 0;
	if (*end != '\0') {
		fprintf(stderr, "send_datagram: bad command '%s'\n", argv[2]);
		return 2;
	}
	if (argc == 4) {
		size = strtol(argv[3], &end, 0);
		if (*end != '\0' || size < 0 || size > (long)sizeof buffer) {
			fprintf(stderr, "send_datagram: size must be 0 to %zu\n", sizeof buffer);
			return 2;
		}
	}
	memcpy(buffer, &msg, sizeof msg);
	return sendto_unix_socket(argv[1], buffer, (size_t)size) == size ? 0 : 1;
}

/*
 * fail-nth N OPERATION [ARGS]: one system call of OPERATION with this
 * task's N-th fault-injection point armed (/proc/thread-self/fail-nth),
 * and on standard output whether that failure was injected and what the
 * call returned: "injected -12", "injected 0", "not-reached 0". Everything
 * the call needs is prepared before the count is armed, and the count is
 * read back and cleared right after it, so that only the call's own
 * allocations are counted and an unreached count fires nowhere else.
 *
 *   write FILE TEXT    write() of TEXT to FILE, e.g. a device name to a
 *                      driver's bind file in sysfs: the probe runs inside
 *   set KEY [VALUE]    UENV_IOC_SET on /dev/env; without VALUE, a delete
 *   change KEY=VALUE...  UENV_IOC_CHANGE of those changes as one set;
 *                      KEY= deletes
 *   get-value KEY      UENV_IOC_GET_VALUE into a buffer of 8 KiB
 *   list               UENV_IOC_LIST into a buffer of 8 KiB
 *
 * Exit status 0 when the call ran, 2 when it could not be prepared.
 */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "env_request.h"
#include "kel_ubootenv.h"

#define FAIL_NTH_PATH "/proc/thread-self/fail-nth"

/* An operation: its arguments, what it prepares, and its one call. */
struct operation {
	const char *name;
	int args_min, args_max;
	int (*prepare)(char **args, int nargs);
	long (*call)(void);
};

static struct uboot_env_record record;
static union env_request request;
static unsigned long request_cmd;
static const char *text;
static int fd_used = -1;

static int prepare_write(char **args, int nargs)
{
	(void)nargs;
	text = args[1];
	fd_used = open(args[0], O_WRONLY);
	if (fd_used < 0) {
		perror(args[0]);
		return -1;
	}
	return 0;
}

static long call_write(void)
{
	ssize_t len = write(fd_used, text, strlen(text));

	return len == (ssize_t)strlen(text) ? 0 : -1;
}

static int open_device(int flags)
{
	fd_used = open(UENV_DEVICE_PATH, flags);
	if (fd_used < 0) {
		perror(UENV_DEVICE_PATH);
		return -1;
	}
	return 0;
}

static int prepare_set(char **args, int nargs)
{
	if (strlen(args[0]) >= sizeof(record.key) ||
	    (nargs > 1 && strlen(args[1]) >= sizeof(record.value))) {
		fprintf(stderr, "fail-nth: key or value too long\n");
		return -1;
	}
	strcpy(record.key, args[0]);
	if (nargs > 1)
		strcpy(record.value, args[1]);
	return open_device(O_RDWR);
}

static long call_set(void)
{
	return ioctl(fd_used, UENV_IOC_SET, &record);
}

static int prepare_change(char **args, int nargs)
{
	char *changes = env_request_buffer(&request, change);
	size_t room = ENV_REQUEST_BUFFER;
	size_t used = 0, len;
	char *eq;
	int i;

	for (i = 0; i < nargs; i++) {
		len = strlen(args[i]) + 1;
		eq = strchr(args[i], '=');
		if (!eq || len > room - used) {
			fprintf(stderr, "fail-nth: %s: not KEY=VALUE, or too long\n", args[i]);
			return -1;
		}
		memcpy(changes + used, args[i], len);
		changes[used + (eq - args[i])] = '\0';
		used += len;
	}
	request.change.size = used;
	request_cmd = UENV_IOC_CHANGE;
	return open_device(O_RDWR);
}

static int prepare_get_value(char **args, int nargs)
{
	(void)nargs;
	if (strlen(args[0]) >= sizeof(request.value.key)) {
		fprintf(stderr, "fail-nth: key too long\n");
		return -1;
	}
	strcpy(request.value.key, args[0]);
	request.value.size = ENV_REQUEST_BUFFER;
	request_cmd = UENV_IOC_GET_VALUE;
	return open_device(O_RDONLY);
}

static int prepare_list(char **args, int nargs)
{
	(void)args;
	(void)nargs;
	request.list.size = ENV_REQUEST_BUFFER;
	request_cmd = UENV_IOC_LIST;
	return open_device(O_RDONLY);
}

static long call_request(void)
{
	return ioctl(fd_used, request_cmd, &request);
}

static const struct operation operations[] = {
	{ "write", 2, 2, prepare_write, call_write },
	{ "set", 1, 2, prepare_set, call_set },
	{ "change", 1, 64, prepare_change, call_request },
	{ "get-value", 1, 1, prepare_get_value, call_request },
	{ "list", 0, 0, prepare_list, call_request },
};

/* Writes the count to the open fail-nth file; false on failure. */
static int arm_count(int fd, const char *count_text)
{
	return pwrite(fd, count_text, strlen(count_text), 0) == (ssize_t)strlen(count_text);
}

int main(int argc, char **argv)
{
	const struct operation *op = NULL;
	char count_text[16], left[16];
	int fd, nargs, call_errno;
	ssize_t len;
	size_t i;
	long ret;

	if (argc >= 3) {
		for (i = 0; i < sizeof(operations) / sizeof(operations[0]); i++)
			if (!strcmp(argv[2], operations[i].name))
				op = &operations[i];
	}
	nargs = argc - 3;
	if (!op || nargs < op->args_min || nargs > op->args_max ||
	    strtoul(argv[1], NULL, 10) == 0) {
		fprintf(stderr, "usage: fail-nth N write FILE TEXT | set KEY [VALUE] |"
			" change KEY=VALUE... | get-value KEY | list\n");
		return 2;
	}
	/* Touched now, so that the call's copies fault in no page. */
	memset(&request, 0, sizeof(request));
	if (op->prepare(argv + 3, nargs))
		return 2;
	snprintf(count_text, sizeof(count_text), "%lu", strtoul(argv[1], NULL, 10));
	fd = open(FAIL_NTH_PATH, O_RDWR);
	if (fd < 0) {
		perror(FAIL_NTH_PATH);
		return 2;
	}

	if (!arm_count(fd, count_text)) {
		perror(FAIL_NTH_PATH);
		return 2;
	}
	ret = op->call();
	call_errno = errno;
	len = pread(fd, left, sizeof(left) - 1, 0);
	if (len <= 0 || !arm_count(fd, "0")) {
		perror(FAIL_NTH_PATH);
		return 2;
	}
	left[len] = '\0';

	/* What is left of the count: 0 once the N-th point has failed. */
	printf("%s %ld\n", strtoul(left, NULL, 10) ? "not-reached" : "injected",
	       ret ? -(long)call_errno : 0L);
	return 0;
}

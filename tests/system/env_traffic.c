/*
 * env-traffic ROLE ID SECONDS [reopen]: one client of /dev/env, busy for
 * SECONDS. Every value it writes is a tag ("s1.000042;") repeated to a
 * fixed length, so that a reader can tell a torn or mixed value from a
 * whole one.
 *
 *   set      UENV_IOC_SET of device_type, 200 characters
 *   change   UENV_IOC_CHANGE of identification and update_ip, both to the
 *            same 700 characters, and every fourth time both deleted
 *   read     UENV_IOC_LIST (identification and update_ip must agree, as
 *            one change set wrote them), UENV_IOC_GET_VALUE and UENV_IOC_GET
 *   check    one read pass, for the environment left at the end
 *
 * The device may go away under the open file (unbound, the module
 * unloaded): an -ENODEV, or no /dev/env to open, makes the client open it
 * again until it is back. With "reopen" it opens /dev/env for each call
 * and pauses 0.1 s closed, so that the module is free to unload between
 * calls.
 *
 * Prints one line: its counts. Exit status 1 when a value was torn or a
 * call failed in another way, 2 on bad arguments.
 */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include "env_request.h"
#include "kel_ubootenv.h"

#define SET_LEN		200
#define CHANGE_LEN	700

static union env_request request;
static struct uboot_env_record record;

static const char *role;
static int id, reopen, fd = -1;
static unsigned long calls, gone, reopens, torn, failed;

static double now(void)
{
	struct timespec ts;

	clock_gettime(CLOCK_MONOTONIC, &ts);
	return ts.tv_sec + ts.tv_nsec / 1e9;
}

/* The device is open, or the deadline passed. */
static int device_open(double deadline)
{
	while (fd < 0) {
		fd = open(UENV_DEVICE_PATH, O_RDWR);
		if (fd >= 0)
			break;
		if (errno != ENOENT && errno != ENODEV && errno != ENXIO) {
			perror(UENV_DEVICE_PATH);
			failed++;
		}
		if (now() > deadline)
			return 0;
		usleep(10000);
	}
	return 1;
}

static void device_close(void)
{
	if (fd >= 0)
		close(fd);
	fd = -1;
}

/* One ioctl; false when the device went away under it. */
static int call(unsigned long cmd, void *arg, const char *what)
{
	int ret = ioctl(fd, cmd, arg);

	calls++;
	if (ret == 0)
		return 1;
	if (errno == ENODEV) {
		gone++;
		reopens++;
		device_close();
		return 0;
	}
	if (errno != ENOENT) {
		fprintf(stderr, "env-traffic %s %d: %s: %s\n", role, id, what, strerror(errno));
		failed++;
	}
	return 0;
}

static void fill(char *value, size_t len, char kind, unsigned long seq)
{
	char tag[32];
	size_t tag_len, i;

	tag_len = snprintf(tag, sizeof(tag), "%c%d.%06lu;", kind, id, seq % 1000000);
	for (i = 0; i < len; i++)
		value[i] = tag[i % tag_len];
	value[len] = '\0';
}

/* A whole value: a tag repeated, as long as its writer makes them. */
static int whole(const char *value)
{
	const char *end = strchr(value, ';');
	size_t tag_len, len = strlen(value), i;

	if (!end || (value[0] != 's' && value[0] != 'c'))
		return 0;
	tag_len = end - value + 1;
	if (len != (value[0] == 's' ? SET_LEN : CHANGE_LEN))
		return 0;
	for (i = tag_len; i < len; i++)
		if (value[i] != value[i % tag_len])
			return 0;
	return 1;
}

static void judge(const char *key, const char *value)
{
	if (!whole(value)) {
		fprintf(stderr, "env-traffic %s %d: %s is torn: %.40s... (%zu characters)\n",
			role, id, key, value, strlen(value));
		torn++;
	}
}

static void do_set(unsigned long seq)
{
	strcpy(record.key, "device_type");
	fill(record.value, SET_LEN, 's', seq);
	call(UENV_IOC_SET, &record, "set");
}

static void do_change(unsigned long seq)
{
	char *changes = env_request_buffer(&request, change);
	char value[CHANGE_LEN + 1];
	size_t used = 0;
	const char *keys[] = { "identification", "update_ip" };
	size_t i;

	if (seq % 4 == 3)
		value[0] = '\0';
	else
		fill(value, CHANGE_LEN, 'c', seq);
	for (i = 0; i < 2; i++) {
		used += sprintf(changes + used, "%s", keys[i]) + 1;
		used += sprintf(changes + used, "%s", value) + 1;
	}
	request.change.size = used;
	call(UENV_IOC_CHANGE, &request, "change");
}

/* The value of KEY in the listed strings, or NULL. */
static const char *listed(const char *strings, size_t size, const char *key)
{
	size_t key_len = strlen(key), at;

	for (at = 0; at < size; at += strlen(strings + at) + 1)
		if (!strncmp(strings + at, key, key_len) && strings[at + key_len] == '=')
			return strings + at + key_len + 1;
	return NULL;
}

static void do_read(void)
{
	const char *strings = env_request_buffer(&request, list);
	const char *ident, *update, *type;

	request.list.size = ENV_REQUEST_BUFFER;
	if (!call(UENV_IOC_LIST, &request, "list"))
		return;
	ident = listed(strings, request.list.size, "identification");
	update = listed(strings, request.list.size, "update_ip");
	type = listed(strings, request.list.size, "device_type");
	if (type)
		judge("device_type (listed)", type);
	if (ident)
		judge("identification (listed)", ident);
	if (!ident != !update || (ident && strcmp(ident, update))) {
		fprintf(stderr, "env-traffic %s %d: half a change set listed: identification %.12s, update_ip %.12s\n",
			role, id, ident ? ident : "(absent)", update ? update : "(absent)");
		torn++;
	}

	strcpy(request.value.key, "identification");
	request.value.size = ENV_REQUEST_BUFFER;
	if (call(UENV_IOC_GET_VALUE, &request, "get-value"))
		judge("identification", env_request_buffer(&request, value));

	if (fd < 0)
		return;
	memset(&record, 0, sizeof(record));
	strcpy(record.key, "device_type");
	if (call(UENV_IOC_GET, &record, "get"))
		judge("device_type", record.value);
}

int main(int argc, char **argv)
{
	double deadline;
	unsigned long seq = 0;

	if (argc < 4 || argc > 5 || (argc == 5 && strcmp(argv[4], "reopen"))) {
		fprintf(stderr, "usage: env-traffic set|change|read|check ID SECONDS [reopen]\n");
		return 2;
	}
	role = argv[1];
	id = atoi(argv[2]);
	reopen = argc == 5;
	if (strcmp(role, "set") && strcmp(role, "change") && strcmp(role, "read") &&
	    strcmp(role, "check")) {
		fprintf(stderr, "env-traffic: no role %s\n", role);
		return 2;
	}
	deadline = now() + atof(argv[3]);
	do {
		if (!device_open(deadline))
			break;
		if (!strcmp(role, "set"))
			do_set(seq);
		else if (!strcmp(role, "change"))
			do_change(seq);
		else
			do_read();
		seq++;
		if (reopen) {
			/* A pause closed, so that the module may go meanwhile. */
			device_close();
			usleep(100000);
		}
	} while (strcmp(role, "check") && now() < deadline);
	device_close();
	if (!strcmp(role, "check") && !calls) {
		fprintf(stderr, "env-traffic check: %s could not be opened\n", UENV_DEVICE_PATH);
		failed++;
	}

	printf("env-traffic %s %d: %lu calls, %lu on a device gone, %lu torn, %lu failed\n",
	       role, id, calls, gone, torn, failed);
	return torn || failed ? 1 : 0;
}

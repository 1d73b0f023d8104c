/*
 * What a whole listing of /dev/env costs in ioctls alone, without a
 * program's start: the walk of the first commands (count, then key at and
 * value for each key: 1 + 2N calls) against one UENV_IOC_LIST, N rounds
 * each. Prints both in microseconds per listing; bench/arm-board runs it
 * on the ARM board.
 *   env_list_ioctls [ROUNDS]
 */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include "kel_ubootenv.h"

static double now_us(void)
{
	struct timespec t;

	clock_gettime(CLOCK_MONOTONIC, &t);
	return t.tv_sec * 1e6 + t.tv_nsec / 1e3;
}

/* Count, then each key and its whole value. */
static int walk(int fd)
{
	struct {
		struct uboot_env_value_record record;
		char value[UENV_STRINGS_MAX];
	} get;
	struct uboot_env_index_record at;
	__u32 count, i;

	if (ioctl(fd, UENV_IOC_COUNT, &count) < 0)
		return -1;
	for (i = 0; i < count; i++) {
		memset(&at, 0, sizeof(at));
		at.index = i;
		if (ioctl(fd, UENV_IOC_KEY_AT, &at) < 0)
			return -1;
		memset(&get.record, 0, sizeof(get.record));
		memcpy(get.record.key, at.key, sizeof(get.record.key));
		get.record.size = sizeof(get.value);
		if (ioctl(fd, UENV_IOC_GET_VALUE, &get) < 0)
			return -1;
	}
	return (int)count;
}

static int list(int fd)
{
	struct {
		struct uboot_env_list_record record;
		char strings[UENV_STRINGS_MAX + 1];
	} all;

	all.record.size = sizeof(all.strings);
	if (ioctl(fd, UENV_IOC_LIST, &all) < 0)
		return -1;
	return (int)all.record.count;
}

int main(int argc, char **argv)
{
	int rounds = argc > 1 ? atoi(argv[1]) : 1000;
	int fd = open(UENV_DEVICE_PATH, O_RDONLY);
	double start, walk_us, list_us;
	int i, keys = 0;

	if (fd < 0 || rounds <= 0) {
		perror(UENV_DEVICE_PATH);
		return 1;
	}
	start = now_us();
	for (i = 0; i < rounds; i++)
		keys = walk(fd);
	walk_us = (now_us() - start) / rounds;
	if (keys < 0 || list(fd) != keys) {
		fprintf(stderr, "env_list_ioctls: %s\n", keys < 0 ? strerror(errno) : "the two disagree");
		return 1;
	}
	start = now_us();
	for (i = 0; i < rounds; i++)
		list(fd);
	list_us = (now_us() - start) / rounds;
	printf("%d keys: walk (%d ioctls) %.1f us, list (1 ioctl) %.1f us\n", keys, 1 + 2 * keys,
	       walk_us, list_us);
	close(fd);
	return 0;
}

/*
 * /dev/env from a real user process on the board: pointers the kernel must
 * refuse, wrong command words, the plain file operations, records and
 * buffers of commands 6 to 8 at odd addresses, and a file opened
 * read-only, which reads but changes nothing. One line per check; exit
 * status 1 if any failed. Changes nothing in flash.
 *
 * Records at odd addresses are filled with memcpy: the program itself must
 * not need an alignment fix-up either.
 */
#include <errno.h>
#include <stddef.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "kel_ubootenv.h"

static int failures;

/* expected_errno 0: the call must succeed (return 0). */
static void expect(const char *what, long ret, int expected_errno)
{
	int ok = expected_errno ? ret == -1 && errno == expected_errno : ret == 0;

	printf("%s %s: %ld%s%s\n", ok ? "ok" : "FAIL", what, ret,
	       ret == -1 ? " " : "", ret == -1 ? strerror(errno) : "");
	failures += !ok;
}

static void expect_true(const char *what, int ok)
{
	printf("%s %s\n", ok ? "ok" : "FAIL", what);
	failures += !ok;
}

static void put_value_request(char *at, const char *key, __u32 size)
{
	struct uboot_env_value_record rec;

	memset(&rec, 0, sizeof(rec));
	snprintf(rec.key, sizeof(rec.key), "%s", key);
	rec.size = size;
	memcpy(at, &rec, sizeof(rec));
}

static void put_list_request(char *at, __u32 size)
{
	struct uboot_env_list_record rec = { size, 0 };

	memcpy(at, &rec, sizeof(rec));
}

/* len bytes of changes behind a record that claims size; `refused` preset to 77. */
static void put_changes(char *at, const char *changes, size_t len, __u32 size)
{
	struct uboot_env_change_record rec = { size, 77 };

	memcpy(at, &rec, sizeof(rec));
	memcpy(at + sizeof(rec), changes, len);
}

static void put_change(char *at, const char *changes, __u32 size)
{
	put_changes(at, changes, size, size);
}

static __u32 refused_at(const char *at)
{
	struct uboot_env_change_record rec;

	memcpy(&rec, at, sizeof(rec));
	return rec.refused;
}

/* What a command 6 or 8 reported in the size field of its record at `at`. */
static __u32 size_at(const char *at, size_t offset)
{
	__u32 size;

	memcpy(&size, at + offset, sizeof(size));
	return size;
}

/*
 * Commands 6 to 8 with records at odd addresses and buffers that run into
 * the guard page at pages + page. "bootargs" is read whole and written
 * back as it is, which changes nothing and so writes nothing.
 */
static void check_whole_values(int fd, char *pages, long page, void *kernel_address)
{
	const size_t value_record = sizeof(struct uboot_env_value_record);
	const size_t size_field = offsetof(struct uboot_env_value_record, size);
	char *odd = pages + 1, *guard = pages + page, *value;
	__u32 need, used, count;
	char changes[4096 + 16];

	expect("whole value, NULL record", ioctl(fd, UENV_IOC_GET_VALUE, NULL), EFAULT);
	expect("whole value, kernel address",
	       ioctl(fd, UENV_IOC_GET_VALUE, kernel_address), EFAULT);
	/* Only the key lies before the guard page. */
	memcpy(guard - value_record + 1, "bootargs", 9);
	expect("whole value, record into a guard page",
	       ioctl(fd, UENV_IOC_GET_VALUE, guard - value_record + 1), EFAULT);

	put_value_request(odd, "bootargs", 0);
	expect("whole value, odd address, no room: ERANGE",
	       ioctl(fd, UENV_IOC_GET_VALUE, odd), ERANGE);
	need = size_at(odd, size_field);
	put_value_request(guard - value_record - need + 1, "bootargs", need);
	expect("whole value, value into a guard page",
	       ioctl(fd, UENV_IOC_GET_VALUE, guard - value_record - need + 1), EFAULT);
	put_value_request(odd, "bootargs", need);
	expect("whole value, odd address", ioctl(fd, UENV_IOC_GET_VALUE, odd), 0);
	value = odd + value_record;
	expect_true("whole value, the size it took",
		    size_at(odd, size_field) == need && strlen(value) + 1 == need);
	put_value_request(odd, "nosuch", 16);
	expect("whole value, absent key", ioctl(fd, UENV_IOC_GET_VALUE, odd), ENOENT);

	/* bootargs as it is: nothing changes. */
	memcpy(changes, "bootargs", 9);
	memcpy(changes + 9, odd + value_record, need);
	put_change(odd, changes, 9 + need);
	expect("change set, odd address, bootargs as it is",
	       ioctl(fd, UENV_IOC_CHANGE, odd), 0);
	put_change(odd, "serverip\0" "1\0" "ethaddr\0" "x", 21);
	expect("change set, read-only key: EPERM", ioctl(fd, UENV_IOC_CHANGE, odd), EPERM);
	expect_true("change set, the refused change", refused_at(odd) == 1);
	put_change(odd, "serverip\0" "1", 10);
	expect("change set, no NUL after the value", ioctl(fd, UENV_IOC_CHANGE, odd), EINVAL);
	put_changes(odd, "", 0, UENV_CHANGES_MAX + 1);
	expect("change set, too big", ioctl(fd, UENV_IOC_CHANGE, odd), E2BIG);
	expect("change set, NULL record", ioctl(fd, UENV_IOC_CHANGE, NULL), EFAULT);
	put_changes(guard - sizeof(struct uboot_env_change_record) - 10, "serverip\0" "1", 10, 11);
	expect("change set, changes into a guard page",
	       ioctl(fd, UENV_IOC_CHANGE, guard - sizeof(struct uboot_env_change_record) - 10),
	       EFAULT);

	expect("whole list, NULL record", ioctl(fd, UENV_IOC_LIST, NULL), EFAULT);
	put_list_request(odd, 0);
	expect("whole list, odd address, no room: ERANGE", ioctl(fd, UENV_IOC_LIST, odd), ERANGE);
	used = size_at(odd, 0);
	put_list_request(guard - 8 - used + 1, used);
	expect("whole list, strings into a guard page",
	       ioctl(fd, UENV_IOC_LIST, guard - 8 - used + 1), EFAULT);
	put_list_request(odd, used);
	expect("whole list, odd address", ioctl(fd, UENV_IOC_LIST, odd), 0);
	expect("count", ioctl(fd, UENV_IOC_COUNT, &count), 0);
	expect_true("whole list, the count", size_at(odd, 4) == count);
}

int main(void)
{
	long page = sysconf(_SC_PAGESIZE);
	struct uboot_env_record rec, *rec_at_edge;
	struct uboot_env_index_record *index_at_edge;
	struct uboot_serial_config *serial_at_edge;
	void *kernel_address = (void *)(~0UL - 4095);
	char *pages, c;
	__u32 count;
	int fd;

	fd = open(UENV_DEVICE_PATH, O_RDWR);
	if (fd < 0) {
		perror(UENV_DEVICE_PATH);
		return 1;
	}
	/* Two pages, the second inaccessible: records that run one byte into it. */
	pages = mmap(NULL, 2 * page, PROT_READ | PROT_WRITE,
		     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
	if (pages == MAP_FAILED || mprotect(pages + page, page, PROT_NONE)) {
		perror("mmap");
		return 1;
	}
	rec_at_edge = (void *)(pages + page - sizeof(rec) + 1);
	index_at_edge = (void *)(pages + page - sizeof(*index_at_edge) + 1);
	serial_at_edge = (void *)(pages + page - sizeof(*serial_at_edge) + 1);
	strcpy(rec_at_edge->key, "serverip");

	expect("get, NULL record", ioctl(fd, UENV_IOC_GET, NULL), EFAULT);
	expect("get, kernel address", ioctl(fd, UENV_IOC_GET, kernel_address), EFAULT);
	expect("get, record into a guard page", ioctl(fd, UENV_IOC_GET, rec_at_edge), EFAULT);
	expect("set, NULL record", ioctl(fd, UENV_IOC_SET, NULL), EFAULT);
	expect("set, record into a guard page", ioctl(fd, UENV_IOC_SET, rec_at_edge), EFAULT);
	expect("count, guard page", ioctl(fd, UENV_IOC_COUNT, pages + page), EFAULT);
	expect("count, kernel address", ioctl(fd, UENV_IOC_COUNT, kernel_address), EFAULT);
	expect("key at, answer into a guard page",
	       ioctl(fd, UENV_IOC_KEY_AT, index_at_edge), EFAULT);
	expect("serial, config into a guard page",
	       ioctl(fd, UENV_IOC_SERIAL, serial_at_edge), EFAULT);

	memset(&rec, 0, sizeof(rec));
	strcpy(rec.key, "bootcmd");
	expect("type 'F'", ioctl(fd, _IOWR('F', 1, struct uboot_env_record), &rec), EINVAL);
	expect("number 0", ioctl(fd, 0x4500, &rec), ENOTTY);
	expect("number 9", ioctl(fd, 0x4509, &rec), ENOTTY);
	expect("number 255", ioctl(fd, 0x45ff, &rec), ENOTTY);
	expect("get bootcmd", ioctl(fd, UENV_IOC_GET, &rec), 0);
	expect("count", ioctl(fd, UENV_IOC_COUNT, &count), 0);
	index_at_edge = (void *)pages;
	index_at_edge->index = count;
	expect("key at the count", ioctl(fd, UENV_IOC_KEY_AT, index_at_edge), ENOENT);

	expect("write", write(fd, "x", 1), EINVAL);
	expect("read", read(fd, &c, 1), 0);

	check_whole_values(fd, pages, page, kernel_address);
	close(fd);

	/* Opened read-only: everything may be read, nothing changed. */
	fd = open(UENV_DEVICE_PATH, O_RDONLY);
	if (fd < 0) {
		perror(UENV_DEVICE_PATH);
		return 1;
	}
	memset(&rec, 0, sizeof(rec));
	strcpy(rec.key, "bootargs");
	expect("read-only: get bootargs", ioctl(fd, UENV_IOC_GET, &rec), 0);
	expect("read-only: count", ioctl(fd, UENV_IOC_COUNT, &count), 0);
	index_at_edge->index = 0;
	expect("read-only: key at 0", ioctl(fd, UENV_IOC_KEY_AT, index_at_edge), 0);
	strcpy(rec.value, "init=/bin/sh");
	expect("read-only: set bootargs", ioctl(fd, UENV_IOC_SET, &rec), EBADF);
	serial_at_edge = (void *)pages;
	memset(serial_at_edge, 0, sizeof(*serial_at_edge));
	serial_at_edge->baud = 9600;
	serial_at_edge->data_bits = 8;
	expect("read-only: serial", ioctl(fd, UENV_IOC_SERIAL, serial_at_edge), EBADF);
	put_change(pages + 1, "serverip\0" "10.0.0.9", 18);
	expect("read-only: change set", ioctl(fd, UENV_IOC_CHANGE, pages + 1), EBADF);
	put_value_request(pages + 1, "bootargs", 64);
	expect("read-only: whole value", ioctl(fd, UENV_IOC_GET_VALUE, pages + 1), 0);
	put_list_request(pages + 1, 4096);
	expect("read-only: whole list", ioctl(fd, UENV_IOC_LIST, pages + 1), 0);
	close(fd);
	return failures ? 1 : 0;
}

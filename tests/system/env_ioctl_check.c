/*
 * /dev/env from a real user process on the board: pointers the kernel must
 * refuse, wrong command words, the plain file operations, and a file opened
 * read-only, which reads but changes nothing. One line per check; exit
 * status 1 if any failed.
 */
#include <errno.h>
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
	expect("number 6", ioctl(fd, 0x4506, &rec), ENOTTY);
	expect("get bootcmd", ioctl(fd, UENV_IOC_GET, &rec), 0);
	expect("count", ioctl(fd, UENV_IOC_COUNT, &count), 0);
	index_at_edge = (void *)pages;
	index_at_edge->index = count;
	expect("key at the count", ioctl(fd, UENV_IOC_KEY_AT, index_at_edge), ENOENT);

	expect("write", write(fd, "x", 1), EINVAL);
	expect("read", read(fd, &c, 1), 0);
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
	close(fd);
	return failures ? 1 : 0;
}

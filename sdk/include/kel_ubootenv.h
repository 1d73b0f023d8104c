/* SPDX-License-Identifier: GPL-2.0 WITH Linux-syscall-note */
/*
 * Records and ioctl numbers of /dev/env, shared by the kelubootenv module
 * and the user programs that talk to it (C and C++).
 */
#ifndef KEL_UBOOTENV_H
#define KEL_UBOOTENV_H

#include <linux/types.h>
#include <linux/ioctl.h>

#define UENV_DEVICE_PATH	"/dev/env"

#define UENV_KEY_LEN		64
#define UENV_VALUE_LEN		256

/* Key and value of UENV_IOC_GET and UENV_IOC_SET; an empty value deletes. */
struct uboot_env_record {
	char key[UENV_KEY_LEN];		/* NUL-terminated within the field */
	char value[UENV_VALUE_LEN];	/* unterminated when 256 characters */
};

/* Key at a position of the list, UENV_IOC_KEY_AT. */
struct uboot_env_index_record {
	__u32 index;
	char key[UENV_KEY_LEN];
};

/* Serial console written into "bootargs" by UENV_IOC_SERIAL. */
struct uboot_serial_config {
	__u32 mode;		/* 0: ttyS<port>,<baud><parity><bits>; 1: tty<port> */
	__u32 baud;
	__u8 data_bits;		/* 5..8 */
	__u8 reserved1;
	__u8 parity;		/* 0 'n', 1 'o', 2 'e' */
	__u8 flow;		/* 2 appends 'r' (RTS/CTS) */
	__u8 port;		/* 0..3 */
	__u8 reserved2[3];
};

#define UENV_SERIAL_MODE_SERIAL	0
#define UENV_SERIAL_MODE_TTY	1
#define UENV_FLOW_RTSCTS	2

/*
 * What the driver accepts, as lists for array initialisers: the keys user
 * space may change (every key may be read), and the serial console's
 * speeds and field ranges.
 */
#define UENV_PERMITTED_KEYS \
	"serverip", "bootargs", "device_type", "identification", "update_ip"
#define UENV_SERIAL_SPEEDS \
	300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 76800, 115200
#define UENV_DATA_BITS_MIN	5
#define UENV_DATA_BITS_MAX	8
#define UENV_PARITY_LETTERS	"noe"	/* by parity: none, odd, even */
#define UENV_PORT_MAX		3

/* The board's console, which the driver puts into "bootargs" at each load. */
#define UENV_DEFAULT_PORT	0
#define UENV_DEFAULT_BAUD	115200
#define UENV_DEFAULT_PARITY	0
#define UENV_DEFAULT_DATA_BITS	8

/*
 * Room in the 4096-byte block: its 4092 data bytes less the empty string
 * that ends the environment. Every key=value string and its NUL counts.
 */
#define UENV_STRINGS_MAX	4091

/*
 * Commands 6 to 8 pass a buffer of any length: a fixed record that the
 * caller's buffer of `size` bytes follows directly (record and buffer are
 * one piece of memory, at any alignment), so that no field holds a pointer
 * and the layout is the same for 32- and 64-bit programs.
 */

/*
 * UENV_IOC_GET_VALUE: the whole value of `key` and its NUL into the buffer.
 * On return `size` is the value's length + 1; when that is more than the
 * buffer holds, nothing is copied into it and the result is -ERANGE, so
 * that the caller can retry with a buffer of `size` bytes. An absent key
 * is -ENOENT, a key without its NUL -EINVAL; neither changes the record.
 */
struct uboot_env_value_record {
	char key[UENV_KEY_LEN];		/* NUL-terminated within the field */
	__u32 size;			/* in: the buffer's bytes; out: as above */
};

/*
 * UENV_IOC_CHANGE: a change set, `size` bytes of changes in the buffer,
 * each a key and a value as two NUL-terminated strings, applied in order:
 * a value sets the key (added at the end if absent), an empty value
 * deletes it (nothing to do if absent). All of them or none: the result is
 * checked whole (permitted keys, the key's form, UENV_STRINGS_MAX) and
 * written to flash once; a set that changes nothing writes nothing. On a
 * refusal (-EINVAL a malformed change or key, -EPERM a read-only key,
 * -ENOSPC no room) `refused` says which change, counted from 0, and
 * nothing has changed. More than UENV_CHANGES_MAX bytes: -E2BIG.
 */
#define UENV_CHANGES_MAX	8192	/* bytes of changes a set may carry */
struct uboot_env_change_record {
	__u32 size;			/* in: bytes of changes in the buffer */
	__u32 refused;			/* out, on a refusal: as above */
};

/*
 * UENV_IOC_LIST: every key=value string of the environment with its NUL,
 * in order, into the buffer. On return `size` is the bytes they take and
 * `count` their number; -ERANGE as for UENV_IOC_GET_VALUE.
 */
struct uboot_env_list_record {
	__u32 size;			/* in: the buffer's bytes; out: as above */
	__u32 count;			/* out: the number of strings */
};

#define UENV_IOC_TYPE		'E'
#define UENV_IOC_GET		_IOWR(UENV_IOC_TYPE, 1, struct uboot_env_record)
#define UENV_IOC_SET		_IOW(UENV_IOC_TYPE, 2, struct uboot_env_record)
#define UENV_IOC_COUNT		_IOR(UENV_IOC_TYPE, 3, __u32)
#define UENV_IOC_KEY_AT		_IOWR(UENV_IOC_TYPE, 4, struct uboot_env_index_record)
#define UENV_IOC_SERIAL		_IOW(UENV_IOC_TYPE, 5, struct uboot_serial_config)
#define UENV_IOC_GET_VALUE	_IOWR(UENV_IOC_TYPE, 6, struct uboot_env_value_record)
#define UENV_IOC_CHANGE		_IOWR(UENV_IOC_TYPE, 7, struct uboot_env_change_record)
#define UENV_IOC_LIST		_IOWR(UENV_IOC_TYPE, 8, struct uboot_env_list_record)

/* The layout is an ABI: fail the build of either side if it moves. */
#define UENV_ABI_CHECK(name, cond) extern char uenv_abi_##name[(cond) ? 1 : -1]
UENV_ABI_CHECK(record_size, sizeof(struct uboot_env_record) == 320);
UENV_ABI_CHECK(index_record_size, sizeof(struct uboot_env_index_record) == 68);
UENV_ABI_CHECK(serial_config_size, sizeof(struct uboot_serial_config) == 16);
UENV_ABI_CHECK(value_record_size, sizeof(struct uboot_env_value_record) == 68);
UENV_ABI_CHECK(change_record_size, sizeof(struct uboot_env_change_record) == 8);
UENV_ABI_CHECK(list_record_size, sizeof(struct uboot_env_list_record) == 8);

#endif /* KEL_UBOOTENV_H */

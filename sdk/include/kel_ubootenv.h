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

#define UENV_IOC_TYPE		'E'
#define UENV_IOC_GET		_IOWR(UENV_IOC_TYPE, 1, struct uboot_env_record)
#define UENV_IOC_SET		_IOW(UENV_IOC_TYPE, 2, struct uboot_env_record)
#define UENV_IOC_COUNT		_IOR(UENV_IOC_TYPE, 3, __u32)
#define UENV_IOC_KEY_AT		_IOWR(UENV_IOC_TYPE, 4, struct uboot_env_index_record)
#define UENV_IOC_SERIAL		_IOW(UENV_IOC_TYPE, 5, struct uboot_serial_config)

/* The layout is an ABI: fail the build of either side if it moves. */
#define UENV_ABI_CHECK(name, cond) extern char uenv_abi_##name[(cond) ? 1 : -1]
UENV_ABI_CHECK(record_size, sizeof(struct uboot_env_record) == 320);
UENV_ABI_CHECK(index_record_size, sizeof(struct uboot_env_index_record) == 68);
UENV_ABI_CHECK(serial_config_size, sizeof(struct uboot_serial_config) == 16);

#endif /* KEL_UBOOTENV_H */

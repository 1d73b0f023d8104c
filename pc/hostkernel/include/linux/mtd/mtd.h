#ifndef HOSTKERNEL_LINUX_MTD_MTD_H
#define HOSTKERNEL_LINUX_MTD_MTD_H

#include <linux/types.h>

#define MTD_NORFLASH 3
#define MTD_WRITEABLE 0x400

/* The Linux 3.0 device with its method pointers (mtd_read/mtd_write came in 3.4). */
struct mtd_info {
	u_char type;
	uint32_t flags;
	uint64_t size;
	uint32_t erasesize;
	uint32_t writesize;
	const char *name;
	int index;
	int (*read)(struct mtd_info *mtd, loff_t from, size_t len, size_t *retlen,
		    u_char *buf);
	int (*write)(struct mtd_info *mtd, loff_t to, size_t len, size_t *retlen,
		     const u_char *buf);
	void *priv;
};

#endif

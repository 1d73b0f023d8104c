#ifndef HOSTKERNEL_LINUX_POLL_H
#define HOSTKERNEL_LINUX_POLL_H

#include <linux/fs.h>

typedef struct poll_table_struct {
	unsigned long key;
} poll_table;

#endif

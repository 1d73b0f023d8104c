#ifndef HOSTKERNEL_LINUX_STAT_H
#define HOSTKERNEL_LINUX_STAT_H

#include_next <linux/stat.h>

/* The uapi header keeps these to the kernel when the C library has them. */
#ifndef S_IFREG
#define S_IFMT 00170000
#define S_IFREG 0100000
#define S_IFDIR 0040000
#define S_IRUGO 00444
#define S_IWUSR 00200
#endif

#endif

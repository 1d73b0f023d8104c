#ifndef HOSTKERNEL_LINUX_KERNEL_H
#define HOSTKERNEL_LINUX_KERNEL_H

#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>
#include <linux/types.h>
#include <linux/compiler.h>

#define KERN_EMERG "<0>"
#define KERN_ALERT "<1>"
#define KERN_CRIT "<2>"
#define KERN_ERR "<3>"
#define KERN_WARNING "<4>"
#define KERN_NOTICE "<5>"
#define KERN_INFO "<6>"
#define KERN_DEBUG "<7>"
#define KERN_CONT "<c>"

#define ARRAY_SIZE(a) (sizeof(a) / sizeof((a)[0]))
#define container_of(ptr, type, member) \
	((type *)((char *)(ptr) - offsetof(type, member)))
#define min(x, y) ((x) < (y) ? (x) : (y))
#define max(x, y) ((x) > (y) ? (x) : (y))
#define min_t(type, x, y) ((type)(x) < (type)(y) ? (type)(x) : (type)(y))
#define max_t(type, x, y) ((type)(x) > (type)(y) ? (type)(x) : (type)(y))
#define BUILD_BUG_ON(cond) ((void)sizeof(char[1 - 2 * !!(cond)]))

#ifdef __cplusplus
extern "C" {
#endif
/* The captured kernel log; sprintf and snprintf are the C library's. */
int printk(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
#ifdef __cplusplus
}
#endif

#endif

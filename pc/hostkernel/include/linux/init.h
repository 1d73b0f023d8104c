#ifndef HOSTKERNEL_LINUX_INIT_H
#define HOSTKERNEL_LINUX_INIT_H

#include <linux/compiler.h>

#define __init
#define __exit
#define __initdata

/* As for a loadable module: the entry points are init_module and cleanup_module. */
#define module_init(fn) int init_module(void) { return fn(); }
#define module_exit(fn) void cleanup_module(void) { fn(); }

#ifdef __cplusplus
extern "C" {
#endif
int init_module(void);
void cleanup_module(void);
#ifdef __cplusplus
}
#endif

#endif

#ifndef HOSTKERNEL_LINUX_SLAB_H
#define HOSTKERNEL_LINUX_SLAB_H

#include <linux/types.h>

#define GFP_KERNEL 0xd0u
#define GFP_ATOMIC 0x20u
#define __GFP_ZERO 0x8000u

#ifdef __cplusplus
extern "C" {
#endif
void *kmalloc(size_t size, unsigned int gfp);
void kfree(const void *p);
#ifdef __cplusplus
}
#endif

static inline void *kzalloc(size_t size, unsigned int gfp)
{
	return kmalloc(size, gfp | __GFP_ZERO);
}

#endif

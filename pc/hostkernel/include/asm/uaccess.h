#ifndef HOSTKERNEL_ASM_UACCESS_H
#define HOSTKERNEL_ASM_UACCESS_H

#include <linux/types.h>
#include <linux/compiler.h>
#include <linux/errno.h>

#ifdef __cplusplus
extern "C" {
#endif
/* Both return the number of bytes not copied; a short copy_from_user zero-fills the rest. */
unsigned long copy_from_user(void *to, const void __user *from, unsigned long n);
unsigned long copy_to_user(void __user *to, const void *from, unsigned long n);
#ifdef __cplusplus
}
#endif

#endif

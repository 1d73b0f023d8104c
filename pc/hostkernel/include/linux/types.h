/* Stand-in: kernel types of Linux 3.0 over the user-space uapi types. */
#ifndef HOSTKERNEL_LINUX_TYPES_H
#define HOSTKERNEL_LINUX_TYPES_H

#include_next <linux/types.h>

/*
 * The C library headers the stand-in builds on, included before the
 * kernel's macros (__init, __exit, ...) can clash with their identifiers.
 */
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <pthread.h>

typedef __u8 u8;
typedef __u16 u16;
typedef __u32 u32;
typedef __u64 u64;
typedef __s8 s8;
typedef __s16 s16;
typedef __s32 s32;
typedef __s64 s64;
typedef unsigned char u_char;
#ifndef __cplusplus
typedef _Bool bool;
enum { false = 0, true = 1 };
#endif

#endif

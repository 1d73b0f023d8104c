#ifndef HOSTKERNEL_LINUX_CRC32_H
#define HOSTKERNEL_LINUX_CRC32_H

#include <linux/types.h>

#ifdef __cplusplus
extern "C" {
#endif
/* Raw little-endian CRC-32 update: no pre- or post-inversion. */
u32 crc32_le(u32 crc, unsigned char const *p, size_t len);
#ifdef __cplusplus
}
#endif

#endif

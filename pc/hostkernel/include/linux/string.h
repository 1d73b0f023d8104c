#ifndef HOSTKERNEL_LINUX_STRING_H
#define HOSTKERNEL_LINUX_STRING_H

#include <string.h>
#include <linux/types.h>

#ifdef __cplusplus
extern "C" {
#endif
char *kstrdup(const char *s, unsigned int gfp);
char *kstrndup(const char *s, size_t max, unsigned int gfp);
char *strim(char *s);
char *strnstr(const char *haystack, const char *needle, size_t len);
#ifdef __cplusplus
}
#endif

#endif

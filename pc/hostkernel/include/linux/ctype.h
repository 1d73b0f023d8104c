#ifndef HOSTKERNEL_LINUX_CTYPE_H
#define HOSTKERNEL_LINUX_CTYPE_H

/* The kernel's classification is locale-free ASCII. */
#define isdigit(c) ((c) >= '0' && (c) <= '9')
#define isspace(c) ((c) == ' ' || ((c) >= '\t' && (c) <= '\r'))

#endif

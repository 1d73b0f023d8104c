#ifndef HOSTKERNEL_LINUX_COMPILER_H
#define HOSTKERNEL_LINUX_COMPILER_H

#ifdef __CHECKER__
# define __user __attribute__((noderef, address_space(1)))
# define __force __attribute__((force))
#else
# define __user
# define __force
#endif
#define __used __attribute__((__used__))
#define __maybe_unused __attribute__((__unused__))
#define __must_check __attribute__((__warn_unused_result__))
#define likely(x) __builtin_expect(!!(x), 1)
#define unlikely(x) __builtin_expect(!!(x), 0)
#define ACCESS_ONCE(x) (*(volatile __typeof__(x) *)&(x))

#endif

/* Stand-in: the kernel's errno values are the uapi ones. */
#include_next <linux/errno.h>

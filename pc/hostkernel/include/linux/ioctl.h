/* Stand-in: the ioctl number encoding is the uapi one. */
#include_next <linux/ioctl.h>

#ifndef HOSTKERNEL_LINUX_MISCDEVICE_H
#define HOSTKERNEL_LINUX_MISCDEVICE_H

#include <linux/fs.h>
#include <linux/list.h>

#define MISC_DYNAMIC_MINOR 255

struct device;

struct miscdevice {
	int minor;
	const char *name;
	const struct file_operations *fops;
	struct list_head list;
	struct device *parent;
	struct device *this_device;
	const char *nodename;
	mode_t mode;
};

#ifdef __cplusplus
extern "C" {
#endif
int misc_register(struct miscdevice *misc);
int misc_deregister(struct miscdevice *misc);
#ifdef __cplusplus
}
#endif

#endif

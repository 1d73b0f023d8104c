#ifndef HOSTKERNEL_LINUX_DEVICE_H
#define HOSTKERNEL_LINUX_DEVICE_H

#include <linux/types.h>

struct module;

struct device_driver {
	const char *name;
	struct module *owner;
};

struct device {
	struct device *parent;
	void *platform_data;
	struct device_driver *driver;	/* the bound driver, or NULL */
	void *driver_data;
	void (*release)(struct device *dev);
};

static inline void *dev_get_drvdata(const struct device *dev)
{
	return dev->driver_data;
}

static inline int dev_set_drvdata(struct device *dev, void *data)
{
	dev->driver_data = data;
	return 0;
}

#endif

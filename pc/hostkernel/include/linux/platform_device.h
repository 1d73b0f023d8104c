#ifndef HOSTKERNEL_LINUX_PLATFORM_DEVICE_H
#define HOSTKERNEL_LINUX_PLATFORM_DEVICE_H

#include <linux/device.h>

struct resource;

typedef struct pm_message {
	int event;
} pm_message_t;

struct platform_device {
	const char *name;
	int id;
	struct device dev;
	u32 num_resources;
	struct resource *resource;
};

struct platform_driver {
	int (*probe)(struct platform_device *);
	int (*remove)(struct platform_device *);
	void (*shutdown)(struct platform_device *);
	int (*suspend)(struct platform_device *, pm_message_t state);
	int (*resume)(struct platform_device *);
	struct device_driver driver;
};

#ifdef __cplusplus
extern "C" {
#endif
int platform_device_register(struct platform_device *pdev);
void platform_device_unregister(struct platform_device *pdev);
int platform_driver_register(struct platform_driver *drv);
void platform_driver_unregister(struct platform_driver *drv);
#ifdef __cplusplus
}
#endif

static inline void *platform_get_drvdata(const struct platform_device *pdev)
{
	return dev_get_drvdata(&pdev->dev);
}

static inline void platform_set_drvdata(struct platform_device *pdev, void *data)
{
	dev_set_drvdata(&pdev->dev, data);
}

#endif

// The real /dev/env: one open file, one ioctl per operation.
#ifndef UENV_IOCTL_DEVICE_H
#define UENV_IOCTL_DEVICE_H

#include "uenv.h"

namespace uenv {

class ioctl_env_device final : public env_device {
public:
	ioctl_env_device() = default;
	~ioctl_env_device();
	ioctl_env_device(const ioctl_env_device &) = delete;
	ioctl_env_device &operator=(const ioctl_env_device &) = delete;

	// Returns 0 or the errno value of the failed open.
	int open(const char *path, bool writable);

	int count(std::uint32_t &entries) override;
	int key_at(uboot_env_index_record &record) override;
	int get(uboot_env_record &record) override;
	int set(const uboot_env_record &record) override;
	int serial(const uboot_serial_config &config) override;

private:
	int fd_ = -1;
};

} // namespace uenv

#endif // UENV_IOCTL_DEVICE_H

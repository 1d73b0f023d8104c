#include "uenv_ioctl_device.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace uenv {
namespace {

int ioctl_error(int fd, unsigned long request, const void *argument)
{
	// The driver never changes the records of SET and SERIAL; ioctl's
	// argument is simply untyped.
	if (ioctl(fd, request, const_cast<void *>(argument)) < 0)
		return errno;
	return 0;
}

} // namespace

ioctl_env_device::~ioctl_env_device()
{
	if (fd_ >= 0)
		close(fd_);
}

int ioctl_env_device::open(const char *path, bool writable)
{
	// Read-only for list and get: the driver takes changes only through a
	// file opened for writing, so a node readable by all (0644) lets anyone
	// look and only its owner change.
	int fd = ::open(path, (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
	if (fd < 0)
		return errno;
	if (fd_ >= 0)
		close(fd_);
	fd_ = fd;
	return 0;
}

int ioctl_env_device::count(std::uint32_t &entries)
{
	__u32 word = 0;
	int error = ioctl_error(fd_, UENV_IOC_COUNT, &word);
	if (error == 0)
		entries = word;
	return error;
}

int ioctl_env_device::key_at(uboot_env_index_record &record)
{
	return ioctl_error(fd_, UENV_IOC_KEY_AT, &record);
}

int ioctl_env_device::get(uboot_env_record &record)
{
	return ioctl_error(fd_, UENV_IOC_GET, &record);
}

int ioctl_env_device::set(const uboot_env_record &record)
{
	return ioctl_error(fd_, UENV_IOC_SET, &record);
}

int ioctl_env_device::serial(const uboot_serial_config &config)
{
	return ioctl_error(fd_, UENV_IOC_SERIAL, &config);
}

} // namespace uenv

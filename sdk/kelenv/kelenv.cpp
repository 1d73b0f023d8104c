// The only code that talks to /dev/env: one ioctl per operation, records as
// kel_ubootenv.h lays them out. No exceptions, no allocation but the
// handle, so C programs link it without the C++ library.
#include "kelenv.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <sys/ioctl.h>
#include <unistd.h>

struct kelenv {
	int fd;				// -1 when ops serve the device
	const kelenv_ops *ops;
	void *context;
};

namespace {

constexpr const char *changeable_keys[] = {UENV_PERMITTED_KEYS};

int device_ioctl(kelenv *env, unsigned long request, void *record)
{
	if (env->ops != nullptr)
		return env->ops->ioctl(env->context, request, record);
	if (ioctl(env->fd, request, record) < 0)
		return -errno;
	return 0;
}

int check_key(const char *key)
{
	if (key == nullptr || key[0] == '\0' || std::strchr(key, '=') != nullptr)
		return -EINVAL;
	if (std::strlen(key) > KELENV_KEY_MAX)
		return -ENAMETOOLONG;
	return 0;
}

// A field that may fill its `field_size` bytes without a terminator, into
// `buffer` as snprintf() would; returns the field's length.
int fill(char *buffer, std::size_t size, const char *field, std::size_t field_size)
{
	std::size_t length = strnlen(field, field_size);
	if (size > 0) {
		std::size_t copied = length < size - 1 ? length : size - 1;
		std::memcpy(buffer, field, copied);
		buffer[copied] = '\0';
	}
	return static_cast<int>(length);
}

// The driver copies the value and its terminator, if it fits, over the
// record and leaves the rest as sent: a zeroed record reads back clean.
int get_record(kelenv *env, const char *key, uboot_env_record &record)
{
	std::memset(&record, 0, sizeof record);
	std::memcpy(record.key, key, strnlen(key, sizeof record.key));
	return device_ioctl(env, UENV_IOC_GET, &record);
}

} // namespace

extern "C" {

int kelenv_open(kelenv **env, const char *path, int flags)
{
	if (env == nullptr || (flags != O_RDONLY && flags != O_RDWR))
		return -EINVAL;
	int fd = open(path != nullptr ? path : UENV_DEVICE_PATH, flags | O_CLOEXEC);
	if (fd < 0)
		return -errno;
	auto *handle = static_cast<kelenv *>(std::malloc(sizeof(kelenv)));
	if (handle == nullptr) {
		close(fd);
		return -ENOMEM;
	}
	*handle = kelenv{fd, nullptr, nullptr};
	*env = handle;
	// cppcheck-suppress resourceLeak ; the handle owns fd, kelenv_close closes it
	return 0;
}

int kelenv_open_ops(kelenv **env, const kelenv_ops *ops, void *context)
{
	if (env == nullptr || ops == nullptr || ops->ioctl == nullptr)
		return -EINVAL;
	auto *handle = static_cast<kelenv *>(std::malloc(sizeof(kelenv)));
	if (handle == nullptr)
		return -ENOMEM;
	*handle = kelenv{-1, ops, context};
	*env = handle;
	return 0;
}

void kelenv_close(kelenv *env)
{
	if (env == nullptr)
		return;
	if (env->ops != nullptr) {
		if (env->ops->close != nullptr)
			env->ops->close(env->context);
	} else {
		close(env->fd);
	}
	std::free(env);
}

int kelenv_get(kelenv *env, const char *key, char *value, std::size_t size)
{
	int error = check_key(key);
	if (error != 0)
		return error;
	uboot_env_record record;
	error = get_record(env, key, record);
	if (error != 0)
		return error;
	return fill(value, size, record.value, sizeof record.value);
}

int kelenv_set(kelenv *env, const char *key, const char *value)
{
	if (value == nullptr || value[0] == '\0')
		return kelenv_delete(env, key);
	int error = check_key(key);
	if (error != 0)
		return error;
	std::size_t length = std::strlen(value);
	if (length > KELENV_VALUE_MAX)
		return -E2BIG;
	uboot_env_record record = {};
	std::memcpy(record.key, key, std::strlen(key));
	std::memcpy(record.value, value, length);	// unterminated when 256 long
	return device_ioctl(env, UENV_IOC_SET, &record);
}

int kelenv_delete(kelenv *env, const char *key)
{
	int error = check_key(key);
	if (error != 0)
		return error;
	uboot_env_record record;
	error = get_record(env, key, record);
	if (error == -ENOENT)
		return kelenv_changeable(key) ? -ENOENT : -EPERM;
	if (error != 0)
		return error;
	std::memset(record.value, 0, sizeof record.value);
	return device_ioctl(env, UENV_IOC_SET, &record);
}

int kelenv_changeable(const char *key)
{
	if (key == nullptr)
		return 0;
	for (const char *changeable_key : changeable_keys) {
		if (std::strcmp(key, changeable_key) == 0)
			return 1;
	}
	return 0;
}

int kelenv_count(kelenv *env)
{
	__u32 entries = 0;
	int error = device_ioctl(env, UENV_IOC_COUNT, &entries);
	if (error != 0)
		return error;
	if (entries > INT_MAX)	// a 4096-byte block holds at most 2048 strings
		return -EOVERFLOW;
	return static_cast<int>(entries);
}

int kelenv_key_at(kelenv *env, unsigned int index, char *key, std::size_t size)
{
	uboot_env_index_record record = {};
	record.index = index;
	int error = device_ioctl(env, UENV_IOC_KEY_AT, &record);
	if (error != 0)
		return error;
	return fill(key, size, record.key, sizeof record.key);
}

int kelenv_foreach(kelenv *env, kelenv_visitor visit, void *context)
{
	int entries = kelenv_count(env);
	if (entries < 0)
		return entries;
	// Another program may change the environment meanwhile: a list that
	// shrank ends early, a key deleted between two calls is skipped.
	for (int index = 0; index < entries; ++index) {
		uboot_env_index_record position = {};
		position.index = static_cast<__u32>(index);
		int error = device_ioctl(env, UENV_IOC_KEY_AT, &position);
		if (error == -ENOENT)
			break;
		if (error != 0)
			return error;
		// A 64-character key fills its field: it goes back as it came.
		uboot_env_record record = {};
		std::memcpy(record.key, position.key, sizeof record.key);
		error = device_ioctl(env, UENV_IOC_GET, &record);
		if (error == -ENOENT)
			continue;
		if (error != 0)
			return error;
		char key[KELENV_KEY_SIZE];
		char value[KELENV_VALUE_SIZE];
		fill(key, sizeof key, record.key, sizeof record.key);
		fill(value, sizeof value, record.value, sizeof record.value);
		int result = visit(key, value, context);
		if (result != 0)
			return result;
	}
	return 0;
}

int kelenv_serial(kelenv *env, const uboot_serial_config *config)
{
	if (config == nullptr)
		return -EINVAL;
	// The driver only reads the record; ioctl's argument is untyped.
	return device_ioctl(env, UENV_IOC_SERIAL, const_cast<uboot_serial_config *>(config));
}

const char *kelenv_strerror(int error)
{
	switch (error) {
	case 0:
		return "success";
	case -EPERM:
		return "read-only key";
	case -ENOENT:
		return "not found (no such key, position or device node)";
	case -ENOSPC:
		return "the environment is full (the change does not fit in its 4096-byte block)";
	case -ENODEV:
		return "the driver was unbound from the device";
	case -EBADF:
		return "opened read-only (changes need O_RDWR)";
	case -EINVAL:
		return "invalid argument (an empty key or one holding '=', or a serial setting or "
		       "bootargs the driver refuses)";
	case -EFAULT:
		return "bad address";
	case -ENOTTY:
		return "not an environment device";
	case -ENAMETOOLONG:
		return "the key is longer than 63 characters";
	case -E2BIG:
		return "the value is longer than 256 characters";
	case -ENOMEM:
		return "out of memory";
	case -EIO:
		return "flash read or write error";
	case -EACCES:
		return "permission denied";
	default:
		return error < 0 ? std::strerror(-error) : "not an error value";
	}
}

} // extern "C"

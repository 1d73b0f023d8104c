// The only code that talks to /dev/env, with the records as kel_ubootenv.h
// lays them out. No exceptions, no new or delete (memory comes from
// malloc), so C programs link it without the C++ library.
#include "kelenv.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <sys/ioctl.h>
#include <unistd.h>

struct kelenv {
	int fd;				// -1 when ops serve the device
	const kelenv_ops *ops;
	void *context;
};

// Each change as the driver takes it: the key and the value, each with its
// NUL (an empty value deletes).
struct kelenv_changes {
	char *bytes;
	std::size_t length;
	std::size_t room;
	std::size_t count;
};

namespace {

constexpr const char *changeable_keys[] = {UENV_PERMITTED_KEYS};

// Any answer about one 4096-byte block fits in as many bytes.
constexpr std::size_t block_size = 4096;

struct free_deleter {
	void operator()(void *memory) const { std::free(memory); }
};
using malloc_text = std::unique_ptr<char, free_deleter>;

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

int set_record(kelenv *env, const char *key, const char *value, std::size_t length)
{
	uboot_env_record record = {};
	std::memcpy(record.key, key, std::strlen(key));
	std::memcpy(record.value, value, length);	// unterminated when 256 long
	return device_ioctl(env, UENV_IOC_SET, &record);
}

bool could_fit(std::size_t key_length, std::size_t value_length)
{
	return key_length + value_length + 2 <= UENV_STRINGS_MAX;
}

// A record of the commands that pass a buffer, with the buffer after it in
// one piece of memory from calloc, and a NUL after the buffer, so that
// whatever the driver left there reads as terminated strings.
template <typename Record>
class buffer_request {
public:
	explicit buffer_request(std::size_t size = 0)
		: memory_(static_cast<char *>(std::calloc(1, sizeof(Record) + size + 1))),
		  size_(size)
	{
		if (memory_)
			record().size = static_cast<__u32>(size);
	}
	bool allocated() const { return memory_ != nullptr; }
	Record &record() { return *reinterpret_cast<Record *>(memory_.get()); }
	char *buffer() { return memory_.get() + sizeof(Record); }
	std::size_t size() const { return size_; }

	// The buffer's first bytes as a string from malloc, the record gone.
	malloc_text take_text(std::size_t length)
	{
		std::memmove(memory_.get(), buffer(), length);
		memory_.get()[length] = '\0';
		return std::move(memory_);
	}

private:
	malloc_text memory_;
	std::size_t size_;
};

// Asks with a buffer of a block's worth (or `limit`, if less), which holds
// whatever this board's driver answers, and again with the size the
// driver asks for while that stays within `limit`; the environment may
// change between the calls, so that a few tries are allowed. On -ERANGE
// the record's size is what the driver asked for last.
template <typename Record, typename Prepare>
int ask_with_buffer(kelenv *env, unsigned long request_code, std::size_t limit,
		    const Prepare &prepare, buffer_request<Record> &request)
{
	std::size_t size = std::min(limit, block_size);
	for (int attempt = 1;; ++attempt) {
		request = buffer_request<Record>(size);
		if (!request.allocated())
			return -ENOMEM;
		prepare(request.record());
		int error = device_ioctl(env, request_code, &request.record());
		std::size_t asked = request.record().size;
		if (error != -ERANGE || asked <= size || asked > limit || attempt == 3)
			return error;
		size = asked;
	}
}

// The whole value by UENV_IOC_GET_VALUE, if it needs no more than `limit`
// bytes with its NUL: its length, the text in *value; -ERANGE with
// `needed`. -ENOTTY from an older driver is the caller's to handle.
int ask_whole_value(kelenv *env, const char *key, std::size_t limit, malloc_text &value,
		    std::size_t &needed)
{
	buffer_request<uboot_env_value_record> request;
	int error = ask_with_buffer(
		env, UENV_IOC_GET_VALUE, limit,
		[key](uboot_env_value_record &record) {
			std::memcpy(record.key, key, std::strlen(key));
		},
		request);
	if (error == -ERANGE)
		needed = request.record().size;
	if (error != 0)
		return error;
	// The NUL after the buffer bounds the value. A driver's answer that
	// does not add up (a module ignoring the command leaves the size as
	// sent) is no value.
	std::size_t length = std::strlen(request.buffer());
	if (request.record().size != length + 1)
		return -EPROTO;
	needed = length + 1;
	value = request.take_text(length);
	return static_cast<int>(length);
}

// The same from the 256-byte record of an older driver, when the value and
// its NUL are in it.
int read_value_record(kelenv *env, const char *key, malloc_text &value, std::size_t &needed)
{
	uboot_env_record record;
	int error = get_record(env, key, record);
	if (error != 0)
		return error;
	const void *end = std::memchr(record.value, '\0', sizeof record.value);
	if (end == nullptr)
		return -EOVERFLOW;
	std::size_t length = static_cast<const char *>(end) - record.value;
	needed = length + 1;
	value.reset(static_cast<char *>(std::malloc(length + 1)));
	if (!value)
		return -ENOMEM;
	std::memcpy(value.get(), record.value, length + 1);
	return static_cast<int>(length);
}

// kelenv_get_whole()'s rules. `whole_values` is cleared once the driver
// turns out not to have the command, so that a walk asks only once. A key
// of 64 characters (from a walk) leaves no room for its NUL in the value
// record; the old record takes it.
int read_whole_value(kelenv *env, const char *key, std::size_t limit, malloc_text &value,
		     std::size_t &needed, bool &whole_values)
{
	if (whole_values && std::strlen(key) < UENV_KEY_LEN) {
		int length = ask_whole_value(env, key, limit, value, needed);
		if (length != -ENOTTY)
			return length;
		whole_values = false;
	}
	return read_value_record(env, key, value, needed);
}

int read_whole_value(kelenv *env, const char *key, std::size_t limit, malloc_text &value,
		     std::size_t &needed)
{
	int error = check_key(key);
	if (error != 0)
		return error;
	bool whole_values = true;
	return read_whole_value(env, key, limit, value, needed, whole_values);
}

// The errors by which the driver refuses one change of a set.
bool refuses_one_change(int error)
{
	return error == -EPERM || error == -ENOSPC || error == -EINVAL;
}

// UENV_IOC_CHANGE with `changes`; the driver's -ENOTTY is the caller's.
int send_changes(kelenv *env, const kelenv_changes &changes, std::size_t &refused)
{
	buffer_request<uboot_env_change_record> request(changes.length);
	if (!request.allocated())
		return -ENOMEM;
	std::memcpy(request.buffer(), changes.bytes, changes.length);
	int error = device_ioctl(env, UENV_IOC_CHANGE, &request.record());
	if (refuses_one_change(error) && request.record().refused < changes.count)
		refused = request.record().refused;
	return error;
}

// The keys one by one, for a driver without UENV_IOC_LIST.
int walk_keys(kelenv *env, kelenv_visitor visit, void *context)
{
	int entries = kelenv_count(env);
	if (entries < 0)
		return entries;
	bool whole_values = true;
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
		// A 64-character key fills its field: the record takes it back
		// as it came.
		char key[KELENV_KEY_SIZE];
		fill(key, sizeof key, position.key, sizeof position.key);
		malloc_text value;
		std::size_t needed = 0;
		error = read_whole_value(env, key, SIZE_MAX, value, needed, whole_values);
		if (error == -ENOENT)
			continue;
		if (error < 0)
			return error;
		int result = visit(key, value.get(), context);
		if (result != 0)
			return result;
	}
	return 0;
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
	if (std::memchr(record.value, '\0', sizeof record.value) == nullptr) {
		// Full: the value may be longer than the record.
		malloc_text whole;
		std::size_t needed = 0;
		int length = ask_whole_value(env, key, SIZE_MAX, whole, needed);
		if (length >= 0)
			return fill(value, size, whole.get(), static_cast<std::size_t>(length) + 1);
		if (length != -ENOTTY && length != -EPROTO)
			return length;
	}
	return fill(value, size, record.value, sizeof record.value);
}

int kelenv_get_whole(kelenv *env, const char *key, char *value, std::size_t size,
		     std::size_t *needed)
{
	if (value == nullptr && size > 0)
		return -EINVAL;
	malloc_text whole;
	std::size_t whole_size = 0;
	int length = read_whole_value(env, key, size, whole, whole_size);
	if ((length >= 0 || length == -ERANGE) && needed != nullptr)
		*needed = whole_size;
	if (length < 0)
		return length;
	if (whole_size > size)		// an older driver's record said more
		return -ERANGE;
	std::memcpy(value, whole.get(), whole_size);
	return length;
}

int kelenv_get_alloc(kelenv *env, const char *key, char **value)
{
	if (value == nullptr)
		return -EINVAL;
	malloc_text whole;
	std::size_t whole_size = 0;
	int length = read_whole_value(env, key, SIZE_MAX, whole, whole_size);
	if (length < 0)
		return length;
	// The request's memory, holding a block's worth: give back the rest.
	char *text = whole.release();
	char *shrunk = static_cast<char *>(std::realloc(text, whole_size));
	*value = shrunk != nullptr ? shrunk : text;
	return length;
}

int kelenv_set(kelenv *env, const char *key, const char *value)
{
	if (value == nullptr || value[0] == '\0')
		return kelenv_delete(env, key);
	int error = check_key(key);
	if (error != 0)
		return error;
	std::size_t length = std::strlen(value);
	if (!could_fit(std::strlen(key), length))
		return -E2BIG;
	if (length <= KELENV_VALUE_MAX)
		return set_record(env, key, value, length);

	// Longer: a change set of one, beyond what an older driver takes.
	kelenv_changes one = {};
	error = kelenv_changes_set(&one, key, value);
	malloc_text bytes(one.bytes);
	if (error != 0)
		return error;
	std::size_t refused = 0;
	error = send_changes(env, one, refused);
	return error == -ENOTTY ? -E2BIG : error;
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
	buffer_request<uboot_env_list_record> request;
	int error = ask_with_buffer(
		env, UENV_IOC_LIST, SIZE_MAX, [](uboot_env_list_record &) {}, request);
	if (error == -ENOTTY)
		return walk_keys(env, visit, context);
	if (error != 0)
		return error;
	// Exactly `count` strings in `size` bytes, or the answer does not add
	// up (a module ignoring the command leaves the size as sent and the
	// count 0). The NUL after the buffer ends a last string cut short.
	char *text = request.buffer();
	std::size_t size = request.record().size;
	if (size > request.size())
		return -EPROTO;
	__u32 strings = 0;
	for (std::size_t at = 0; at < size; at += std::strlen(text + at) + 1)
		++strings;
	if (strings != request.record().count || (size > 0 && text[size - 1] != '\0'))
		return -EPROTO;
	for (const char *end = text + size; text < end;) {
		char *next = text + std::strlen(text) + 1;
		char *equals = std::strchr(text, '=');	// keys hold none
		const char *value = "";
		if (equals != nullptr) {
			*equals = '\0';
			value = equals + 1;
		}
		int result = visit(text, value, context);
		if (result != 0)
			return result;
		text = next;
	}
	return 0;
}

int kelenv_changes_new(kelenv_changes **changes)
{
	if (changes == nullptr)
		return -EINVAL;
	auto *set = static_cast<kelenv_changes *>(std::calloc(1, sizeof(kelenv_changes)));
	if (set == nullptr)
		return -ENOMEM;
	*changes = set;
	return 0;
}

void kelenv_changes_free(kelenv_changes *changes)
{
	if (changes == nullptr)
		return;
	std::free(changes->bytes);
	std::free(changes);
}

int kelenv_changes_set(kelenv_changes *changes, const char *key, const char *value)
{
	if (changes == nullptr)
		return -EINVAL;
	int error = check_key(key);
	if (error != 0)
		return error;
	std::size_t key_length = std::strlen(key);
	std::size_t value_length = value != nullptr ? std::strlen(value) : 0;
	if (!could_fit(key_length, value_length))
		return -E2BIG;
	std::size_t change_length = key_length + value_length + 2;
	if (change_length > UENV_CHANGES_MAX - changes->length)
		return -E2BIG;
	if (changes->bytes == nullptr || change_length > changes->room - changes->length) {
		std::size_t room = std::max<std::size_t>(changes->room * 2, 256);
		room = std::min<std::size_t>(std::max(room, changes->length + change_length),
					     UENV_CHANGES_MAX);
		auto *bytes = static_cast<char *>(std::realloc(changes->bytes, room));
		if (bytes == nullptr)
			return -ENOMEM;
		changes->bytes = bytes;
		changes->room = room;
	}
	char *change = changes->bytes + changes->length;
	std::memcpy(change, key, key_length + 1);
	change += key_length + 1;
	if (value_length > 0)
		std::memcpy(change, value, value_length);
	change[value_length] = '\0';
	changes->length += change_length;
	++changes->count;
	return 0;
}

int kelenv_changes_delete(kelenv_changes *changes, const char *key)
{
	return kelenv_changes_set(changes, key, nullptr);
}

std::size_t kelenv_changes_count(const kelenv_changes *changes)
{
	return changes != nullptr ? changes->count : 0;
}

int kelenv_apply(kelenv *env, const kelenv_changes *changes, std::size_t *refused)
{
	if (changes == nullptr)
		return -EINVAL;
	std::size_t refused_change = changes->count;
	int error = 0;
	if (changes->count > 0)
		error = send_changes(env, *changes, refused_change);
	if (error == -ENOTTY) {
		// The older driver takes one change of a value its record
		// carries; one such change is as atomic as a set of one.
		const char *key = changes->bytes;
		const char *value = key + std::strlen(key) + 1;
		std::size_t length = std::strlen(value);
		if (changes->count > 1 || length > KELENV_VALUE_MAX) {
			error = -EOPNOTSUPP;
		} else if (length > 0) {
			error = set_record(env, key, value, length);
		} else {
			error = kelenv_delete(env, key);
			if (error == -ENOENT)
				error = 0;
		}
		if (refuses_one_change(error))
			refused_change = 0;
	}
	if (refused != nullptr)
		*refused = refused_change;
	return error;
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
		return "too long: more than the 4096-byte block can hold (or a value of more "
		       "than 256 characters, which a driver without change sets cannot take)";
	case -ERANGE:
		return "the buffer is too small for the whole value";
	case -EOVERFLOW:
		return "the value may be longer than 256 characters, more than this driver "
		       "hands over";
	case -EPROTO:
		return "the driver's answer does not add up (a module that ignores the command?)";
	case -EOPNOTSUPP:
		return "the driver takes no change sets, only one change of up to 256 characters "
		       "at a time";
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

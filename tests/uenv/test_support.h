// A /dev/env in memory that answers the driver's ioctls as the driver does,
// behind a kelenv handle, and captured output.
#ifndef UENV_TEST_SUPPORT_H
#define UENV_TEST_SUPPORT_H

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "uenv.h"

inline std::string field(const char *text, std::size_t size)
{
	return std::string(text, strnlen(text, size));
}

class fake_env_device {
public:
	std::vector<std::pair<std::string, std::string>> entries;
	int failure = 0;			// errno of every call when set
	bool writable = true;			// else set and serial fail with EBADF
	std::function<void()> before_get;	// races a change against a list
	std::vector<uboot_env_record> sets;
	std::vector<uboot_serial_config> serials;
	std::vector<unsigned long> requests;	// every ioctl, in order

	fake_env_device() { kelenv_open_ops(&env_, &ops_, this); }
	~fake_env_device() { kelenv_close(env_); }
	fake_env_device(const fake_env_device &) = delete;
	fake_env_device &operator=(const fake_env_device &) = delete;

	kelenv *env() { return env_; }

	// What the driver answers: 0 or a negative errno value.
	int ioctl(unsigned long request, void *record)
	{
		requests.push_back(request);
		switch (request) {
		case UENV_IOC_COUNT:
			return -count(*static_cast<std::uint32_t *>(record));
		case UENV_IOC_KEY_AT:
			return -key_at(*static_cast<uboot_env_index_record *>(record));
		case UENV_IOC_GET:
			return -get(*static_cast<uboot_env_record *>(record));
		case UENV_IOC_SET:
			return writable ? -set(*static_cast<const uboot_env_record *>(record)) : -EBADF;
		case UENV_IOC_SERIAL:
			return writable ? -serial(*static_cast<const uboot_serial_config *>(record))
					: -EBADF;
		default:
			return -ENOTTY;
		}
	}

	int count(std::uint32_t &n)
	{
		n = static_cast<std::uint32_t>(entries.size());
		return failure;
	}

	int key_at(uboot_env_index_record &record)
	{
		if (failure || record.index >= entries.size())
			return failure ? failure : ENOENT;
		const std::string &key = entries[record.index].first;
		std::memcpy(record.key, key.c_str(), std::min<std::size_t>(key.size() + 1, UENV_KEY_LEN));
		return 0;
	}

	// The bytes after the copied ones stay as the caller sent them.
	int get(uboot_env_record &record)
	{
		if (before_get)
			before_get();
		auto entry = find(record.key);
		if (failure || entry == entries.end())
			return failure ? failure : ENOENT;
		const std::string &value = entry->second;
		std::memcpy(record.value, value.c_str(),
			    std::min<std::size_t>(value.size() + 1, UENV_VALUE_LEN));
		return 0;
	}

	int set(const uboot_env_record &record)
	{
		sets.push_back(record);
		std::string key = field(record.key, UENV_KEY_LEN);
		if (failure || key == "ethaddr")
			return failure ? failure : EPERM;
		std::string value = field(record.value, UENV_VALUE_LEN);
		auto entry = find(record.key);
		if (entry == entries.end())
			entries.emplace_back(key, value);
		else if (value.empty())
			entries.erase(entry);
		else
			entry->second = value;
		return 0;
	}

	int serial(const uboot_serial_config &config)
	{
		serials.push_back(config);
		return failure;
	}

private:
	kelenv *env_ = nullptr;
	static int call_ioctl(void *self, unsigned long request, void *record)
	{
		return static_cast<fake_env_device *>(self)->ioctl(request, record);
	}
	static constexpr kelenv_ops ops_ = {call_ioctl, nullptr};

	// Keys compare over at most their 64-byte field, as in the driver.
	std::vector<std::pair<std::string, std::string>>::iterator find(const char *key)
	{
		std::string wanted = field(key, UENV_KEY_LEN);
		return std::find_if(entries.begin(), entries.end(), [&](const auto &entry) {
			return entry.first.substr(0, UENV_KEY_LEN) == wanted;
		});
	}
};

struct captured {
	char *data = nullptr;
	std::size_t size = 0;
	FILE *file = open_memstream(&data, &size);

	~captured()
	{
		std::fclose(file);
		std::free(data);
	}
	std::string text()
	{
		std::fflush(file);
		return std::string(data, size);
	}
};

// argv for the program, alive as long as the command that points into it.
class arguments {
public:
	explicit arguments(std::vector<std::string> words, const char *program = "uenv")
		: words_(std::move(words))
	{
		words_.insert(words_.begin(), program);
		for (std::string &word : words_)
			argv_.push_back(word.data());
		argv_.push_back(nullptr);
	}
	int argc() const { return static_cast<int>(words_.size()); }
	char *const *argv() const { return argv_.data(); }

private:
	std::vector<std::string> words_;
	std::vector<char *> argv_;
};

#endif // UENV_TEST_SUPPORT_H

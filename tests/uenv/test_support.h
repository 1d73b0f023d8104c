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

using entry_list = std::vector<std::pair<std::string, std::string>>;

// The commands that a module built before whole values lacks.
inline const std::vector<unsigned long> whole_value_commands = {
	UENV_IOC_GET_VALUE, UENV_IOC_CHANGE, UENV_IOC_LIST};

class fake_env_device {
public:
	entry_list entries;
	int failure = 0;			// errno of every call when set
	bool writable = true;			// else changes fail with EBADF
	std::function<void()> before_get;	// races a change against a read
	std::vector<unsigned long> lacking;	// commands the driver does not know
	int lacking_answer = ENOTTY;		// 0: taken for done, nothing copied
	std::vector<uboot_env_record> sets;
	std::vector<entry_list> change_sets;	// as received, well formed or not
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
		if (std::find(lacking.begin(), lacking.end(), request) != lacking.end())
			return -lacking_answer;
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
		case UENV_IOC_GET_VALUE:
			return -get_value(*static_cast<uboot_env_value_record *>(record));
		case UENV_IOC_CHANGE:
			return writable ? -change(*static_cast<uboot_env_change_record *>(record))
					: -EBADF;
		case UENV_IOC_LIST:
			return -list(*static_cast<uboot_env_list_record *>(record));
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

	// The buffer follows the record; too small, it gets nothing and the
	// size asked for comes back.
	int get_value(uboot_env_value_record &record)
	{
		if (before_get)
			before_get();
		if (failure)
			return failure;
		if (strnlen(record.key, UENV_KEY_LEN) == UENV_KEY_LEN)
			return EINVAL;
		auto entry = find(record.key);
		if (entry == entries.end())
			return ENOENT;
		return copy_out(record, entry->second.c_str(), entry->second.size() + 1);
	}

	// All or none, in order, the first refused change named. A set key
	// must be permitted (everything but "ethaddr" here).
	int change(uboot_env_change_record &record)
	{
		const char *at = reinterpret_cast<const char *>(&record + 1);
		const char *end = at + record.size;
		auto next_string = [&](std::string &text) {
			auto nul = static_cast<const char *>(std::memchr(at, '\0', end - at));
			if (nul == nullptr)
				return false;
			text.assign(at, nul);
			at = nul + 1;
			return true;
		};
		entry_list received, result = entries;
		int error = 0;
		auto refuse = [&](int refusal, std::size_t index) {
			if (error == 0) {
				error = refusal;
				record.refused = static_cast<__u32>(index);
			}
		};
		for (std::size_t index = 0; at < end; ++index) {
			std::string key, value;
			if (!next_string(key) || !next_string(value)) {
				refuse(EINVAL, index);	// a change cut short
				break;
			}
			received.emplace_back(key, value);
			if (key.empty() || key.size() >= UENV_KEY_LEN || key.find('=') != key.npos)
				refuse(EINVAL, index);
			else if (key == "ethaddr")
				refuse(EPERM, index);
			auto entry = std::find_if(result.begin(), result.end(),
						  [&](const auto &e) { return e.first == key; });
			if (entry == result.end() && !value.empty())
				result.emplace_back(key, value);
			else if (entry != result.end() && value.empty())
				result.erase(entry);
			else if (entry != result.end())
				entry->second = value;
		}
		change_sets.push_back(received);
		if (failure || error)
			return failure ? failure : error;
		entries = result;
		return 0;
	}

	int list(uboot_env_list_record &record)
	{
		if (before_get)
			before_get();
		if (failure)
			return failure;
		std::string strings;
		for (const auto &entry : entries)
			strings += entry.first + "=" + entry.second + std::string(1, '\0');
		record.count = static_cast<__u32>(entries.size());
		return copy_out(record, strings.data(), strings.size());
	}

private:
	kelenv *env_ = nullptr;
	static int call_ioctl(void *self, unsigned long request, void *record)
	{
		return static_cast<fake_env_device *>(self)->ioctl(request, record);
	}
	static constexpr kelenv_ops ops_ = {call_ioctl, nullptr};

	// Into the buffer after the record, of the record's `size` bytes.
	template <typename Record>
	static int copy_out(Record &record, const char *bytes, std::size_t length)
	{
		std::size_t room = record.size;
		record.size = static_cast<__u32>(length);
		if (length > room)
			return ERANGE;
		std::memcpy(&record + 1, bytes, length);
		return 0;
	}

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

// The kelenv library: its records and calls against a device in memory
// that answers the driver's ioctls, and its own file handling on files
// that are no /dev/env.
#include <gtest/gtest.h>

#include <unistd.h>

#include "test_support.h"

namespace {

class Kelenv : public ::testing::Test {
protected:
	fake_env_device device;
	kelenv *env = device.env();

	// One change set of `changes`, applied.
	int apply(const entry_list &changes, std::size_t *refused = nullptr)
	{
		kelenv_changes *set = nullptr;
		if (kelenv_changes_new(&set) != 0)
			return -ENOMEM;
		for (const auto &[key, value] : changes)
			EXPECT_EQ(kelenv_changes_set(set, key.c_str(), value.c_str()), 0) << key;
		int error = kelenv_apply(env, set, refused);
		kelenv_changes_free(set);
		return error;
	}
};

using request_list = std::vector<unsigned long>;

// What kelenv_foreach() visits, when it ends with `result`.
entry_list walk(kelenv *env, int result = 0)
{
	entry_list walked;
	auto visit = [](const char *key, const char *value, void *context) {
		static_cast<entry_list *>(context)->emplace_back(key, value);
		return 0;
	};
	EXPECT_EQ(kelenv_foreach(env, visit, &walked), result);
	return walked;
}

TEST_F(Kelenv, GetFillsTheBufferAsSnprintfDoes)
{
	const std::string full(256, 'v');
	device.entries = {{"serverip", "10.0.0.2"}, {"bootargs", full}};
	char value[KELENV_VALUE_SIZE];
	std::memset(value, 'x', sizeof value);
	EXPECT_EQ(kelenv_get(env, "serverip", value, sizeof value), 8);
	EXPECT_STREQ(value, "10.0.0.2");

	// 256 characters arrive without a terminator; the buffer gets one.
	std::memset(value, 'x', sizeof value);
	EXPECT_EQ(kelenv_get(env, "bootargs", value, sizeof value), 256);
	EXPECT_EQ(std::string(value), full);

	// Too small: cut and terminated, the full length returned.
	char small[5];
	EXPECT_EQ(kelenv_get(env, "serverip", small, sizeof small), 8);
	EXPECT_STREQ(small, "10.0");
	// No buffer at all: the length alone.
	EXPECT_EQ(kelenv_get(env, "bootargs", nullptr, 0), 256);

	EXPECT_EQ(kelenv_get(env, "nosuch", value, sizeof value), -ENOENT);
}

TEST_F(Kelenv, ChangesTheDriverCannotTakeAreRefusedBeforeAsking)
{
	EXPECT_EQ(kelenv_set(env, "", "x"), -EINVAL);
	EXPECT_EQ(kelenv_set(env, "a=b", "x"), -EINVAL);
	EXPECT_EQ(kelenv_set(env, nullptr, "x"), -EINVAL);
	EXPECT_EQ(kelenv_set(env, std::string(64, 'k').c_str(), "x"), -ENAMETOOLONG);
	// "serverip=" + value + NUL one byte more than the block's strings hold.
	EXPECT_EQ(kelenv_set(env, "serverip", std::string(UENV_STRINGS_MAX - 9, 'v').c_str()),
		  -E2BIG);
	EXPECT_EQ(kelenv_get(env, std::string(64, 'k').c_str(), nullptr, 0), -ENAMETOOLONG);
	EXPECT_EQ(kelenv_delete(env, "a=b"), -EINVAL);
	EXPECT_TRUE(device.requests.empty());
}

TEST_F(Kelenv, SetSendsOneRecordAndAFullValueUnterminated)
{
	const std::string full(256, 'v');
	EXPECT_EQ(kelenv_set(env, std::string(63, 'k').c_str(), "1"), 0);
	EXPECT_EQ(kelenv_set(env, "bootargs", full.c_str()), 0);
	ASSERT_EQ(device.requests, (std::vector<unsigned long>{UENV_IOC_SET, UENV_IOC_SET}));
	EXPECT_EQ(std::string(device.sets[0].key), std::string(63, 'k'));
	EXPECT_STREQ(device.sets[0].value, "1");
	EXPECT_EQ(std::string(device.sets[1].value, UENV_VALUE_LEN), full);
	EXPECT_EQ(device.entries.back(), std::make_pair(std::string("bootargs"), full));

	device.failure = ENOSPC;
	EXPECT_EQ(kelenv_set(env, "serverip", "x"), -ENOSPC);
	device.failure = 0;
	EXPECT_EQ(kelenv_set(env, "ethaddr", "x"), -EPERM);
}

TEST_F(Kelenv, DeleteTouchesOnlyWhatIsThere)
{
	device.entries = {{"serverip", "10.0.0.2"}, {"ethaddr", "00:01"}};
	EXPECT_EQ(kelenv_delete(env, "serverip"), 0);
	EXPECT_EQ(device.requests, (std::vector<unsigned long>{UENV_IOC_GET, UENV_IOC_SET}));
	EXPECT_EQ(device.sets[0].value[0], '\0');
	EXPECT_EQ(device.entries.size(), 1u);

	// Absent: no set, which would store "update_ip=".
	device.requests.clear();
	EXPECT_EQ(kelenv_delete(env, "update_ip"), -ENOENT);
	EXPECT_EQ(kelenv_set(env, "update_ip", ""), -ENOENT);
	EXPECT_EQ(kelenv_set(env, "update_ip", nullptr), -ENOENT);
	EXPECT_EQ(device.requests, std::vector<unsigned long>(3, UENV_IOC_GET));
	// A key the driver would refuse is refused whether it is there or not.
	EXPECT_EQ(kelenv_delete(env, "bootcmd"), -EPERM);
	EXPECT_EQ(kelenv_delete(env, "ethaddr"), -EPERM);
	EXPECT_EQ(device.entries.size(), 1u);
}

TEST_F(Kelenv, ChangeableKeysAreTheDriversList)
{
	for (const char *key : {"serverip", "bootargs", "device_type", "identification", "update_ip"})
		EXPECT_TRUE(kelenv_changeable(key)) << key;
	for (const char *key : {"bootcmd", "ethaddr", "serverip2", "server", "", "bootargs "})
		EXPECT_FALSE(kelenv_changeable(key)) << key;
	EXPECT_FALSE(kelenv_changeable(nullptr));
}

TEST_F(Kelenv, CountKeyAtAndAWalk)
{
	const std::string long_key(64, 'k');
	device.entries = {{"a", "1"}, {long_key, "2"}, {"c", ""}};
	EXPECT_EQ(kelenv_count(env), 3);
	char key[KELENV_KEY_SIZE];
	EXPECT_EQ(kelenv_key_at(env, 0, key, sizeof key), 1);
	EXPECT_STREQ(key, "a");
	// A 64-character key fills its field; a walk still finds its value.
	EXPECT_EQ(kelenv_key_at(env, 1, key, sizeof key), 64);
	EXPECT_EQ(std::string(key), long_key);
	EXPECT_EQ(kelenv_key_at(env, 3, key, sizeof key), -ENOENT);

	std::string walked;
	auto visit = [](const char *k, const char *v, void *context) {
		*static_cast<std::string *>(context) += std::string(k) + "=" + v + ";";
		return 0;
	};
	EXPECT_EQ(kelenv_foreach(env, visit, &walked), 0);
	EXPECT_EQ(walked, "a=1;" + long_key + "=2;c=;");

	// The visitor's result stops the walk.
	int seen = 0;
	auto stop_at_second = [](const char *, const char *, void *context) {
		return ++*static_cast<int *>(context) == 2 ? 42 : 0;
	};
	EXPECT_EQ(kelenv_foreach(env, stop_at_second, &seen), 42);
	EXPECT_EQ(seen, 2);
}

TEST_F(Kelenv, AWalkFollowsAnEnvironmentChangingMeanwhile)
{
	device.entries = {{"a", "1"}, {"b", "2"}, {"c", "3"}};
	device.before_get = [this] {
		device.before_get = nullptr;
		device.entries.erase(device.entries.begin() + 1);
	};
	std::string walked;
	auto visit = [](const char *k, const char *, void *context) {
		*static_cast<std::string *>(context) += k;
		return 0;
	};
	EXPECT_EQ(kelenv_foreach(env, visit, &walked), 0);
	EXPECT_EQ(walked, "ac");

	device.failure = ENODEV;
	EXPECT_EQ(kelenv_foreach(env, visit, &walked), -ENODEV);
	EXPECT_EQ(kelenv_count(env), -ENODEV);
}

TEST_F(Kelenv, WholeValuesAtTheBoundaries)
{
	const std::string value(1000, 'v');
	device.entries = {{"bootargs", value}, {"serverip", "10.0.0.2"}};
	std::vector<char> buffer(value.size() + 1, 'x');
	std::size_t needed = 0;
	EXPECT_EQ(kelenv_get_whole(env, "bootargs", buffer.data(), buffer.size(), &needed), 1000);
	EXPECT_EQ(needed, 1001u);
	EXPECT_EQ(std::string(buffer.data()), value);
	EXPECT_EQ(device.requests, request_list{UENV_IOC_GET_VALUE});

	// One byte short: nothing written, the size needed said.
	std::fill(buffer.begin(), buffer.end(), 'x');
	needed = 0;
	EXPECT_EQ(kelenv_get_whole(env, "bootargs", buffer.data(), value.size(), &needed), -ERANGE);
	EXPECT_EQ(needed, 1001u);
	EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 'x'), 1001);
	EXPECT_EQ(kelenv_get_whole(env, "serverip", nullptr, 0, &needed), -ERANGE);
	EXPECT_EQ(needed, 9u);
	EXPECT_EQ(kelenv_get_whole(env, "nosuch", buffer.data(), buffer.size(), nullptr), -ENOENT);
	EXPECT_EQ(kelenv_get_whole(env, "a=b", buffer.data(), buffer.size(), nullptr), -EINVAL);

	char *whole = nullptr;
	ASSERT_EQ(kelenv_get_alloc(env, "bootargs", &whole), 1000);
	EXPECT_EQ(std::string(whole), value);
	std::free(whole);
	EXPECT_EQ(kelenv_get_alloc(env, "nosuch", &whole), -ENOENT);
	// More than any block holds: asked again with the size the driver wants.
	device.entries[0].second.assign(5000, 'w');
	device.requests.clear();
	ASSERT_EQ(kelenv_get_alloc(env, "bootargs", &whole), 5000);
	EXPECT_EQ(std::string(whole), device.entries[0].second);
	std::free(whole);
	EXPECT_EQ(device.requests, request_list(2, UENV_IOC_GET_VALUE));
}

TEST_F(Kelenv, GetShowsWhereALongValueIsCut)
{
	const std::string value(1000, 'v');
	device.entries = {{"bootargs", value}};
	char cut[KELENV_VALUE_SIZE];
	EXPECT_EQ(kelenv_get(env, "bootargs", cut, sizeof cut), 1000);
	EXPECT_EQ(std::string(cut), value.substr(0, 256));
	std::vector<char> buffer(value.size() + 1);
	EXPECT_EQ(kelenv_get(env, "bootargs", buffer.data(), buffer.size()), 1000);
	EXPECT_EQ(std::string(buffer.data()), value);
	EXPECT_EQ(device.requests, (request_list{UENV_IOC_GET, UENV_IOC_GET_VALUE, UENV_IOC_GET,
						 UENV_IOC_GET_VALUE}));

	// A driver without whole values: the record's 256 characters, as ever.
	device.lacking = whole_value_commands;
	EXPECT_EQ(kelenv_get(env, "bootargs", cut, sizeof cut), 256);
	EXPECT_EQ(std::string(cut), value.substr(0, 256));
}

TEST_F(Kelenv, SetTakesALongValueAsAChangeSetOfOne)
{
	// "bootargs=" + value + NUL fill the block's strings exactly.
	const std::string longest(UENV_STRINGS_MAX - 10, 'v');
	EXPECT_EQ(kelenv_set(env, "bootargs", longest.c_str()), 0);
	EXPECT_EQ(device.requests, request_list{UENV_IOC_CHANGE});
	EXPECT_EQ(device.change_sets, (std::vector<entry_list>{{{"bootargs", longest}}}));
	EXPECT_EQ(device.entries, (entry_list{{"bootargs", longest}}));
	EXPECT_EQ(kelenv_set(env, "ethaddr", std::string(300, 'v').c_str()), -EPERM);

	// A driver without change sets takes no more than its record.
	device.lacking = whole_value_commands;
	EXPECT_EQ(kelenv_set(env, "bootargs", std::string(257, 'w').c_str()), -E2BIG);
	EXPECT_EQ(device.entries, (entry_list{{"bootargs", longest}}));
}

TEST_F(Kelenv, AChangeSetIsAppliedWholeOrNotAtAll)
{
	device.entries = {{"serverip", "10.0.0.1"}, {"update_ip", "10.0.0.9"}};
	const entry_list before = device.entries;
	const std::string long_value(1000, 'b');
	const entry_list refused_set = {{"serverip", "10.0.0.2"}, {"bootargs", long_value},
					{"update_ip", ""}, {"ethaddr", "00:02"},
					{"identification", ""}};
	std::size_t refused = 99;
	EXPECT_EQ(apply(refused_set, &refused), -EPERM);
	EXPECT_EQ(refused, 3u);
	EXPECT_EQ(device.entries, before);
	EXPECT_EQ(device.change_sets, std::vector<entry_list>{refused_set});

	// A set and a delete of the same key: in order.
	EXPECT_EQ(apply({{"serverip", "10.0.0.2"}, {"bootargs", long_value}, {"update_ip", ""},
			 {"device_type", "x1"}, {"device_type", ""}}, &refused), 0);
	EXPECT_EQ(refused, 5u);
	EXPECT_EQ(device.entries, (entry_list{{"serverip", "10.0.0.2"}, {"bootargs", long_value}}));
	EXPECT_EQ(device.requests, request_list(2, UENV_IOC_CHANGE));
	// Failures no change caused name none; an empty set asks nothing.
	device.writable = false;
	EXPECT_EQ(apply({{"serverip", "1"}}, &refused), -EBADF);
	EXPECT_EQ(refused, 1u);
	EXPECT_EQ(apply({}, &refused), 0);
	EXPECT_EQ(refused, 0u);
	EXPECT_EQ(device.requests.size(), 3u);
}

TEST(KelenvChanges, RefusedAtOnceTheSetUnchanged)
{
	kelenv_changes *changes = nullptr;
	ASSERT_EQ(kelenv_changes_new(&changes), 0);
	EXPECT_EQ(kelenv_changes_set(changes, "", "x"), -EINVAL);
	EXPECT_EQ(kelenv_changes_set(changes, nullptr, "x"), -EINVAL);
	EXPECT_EQ(kelenv_changes_delete(changes, "a=b"), -EINVAL);
	EXPECT_EQ(kelenv_changes_set(changes, std::string(64, 'k').c_str(), "x"), -ENAMETOOLONG);
	// Never in the block: "bootargs=" + value + NUL one byte more than it holds.
	EXPECT_EQ(kelenv_changes_set(changes, "bootargs",
				     std::string(UENV_STRINGS_MAX - 9, 'v').c_str()), -E2BIG);
	EXPECT_EQ(kelenv_changes_count(changes), 0u);

	// Each change takes key + value + 2 bytes of UENV_CHANGES_MAX: 8020,
	// then 172 to the last byte, not 173.
	const std::string value(4000, 'v');
	EXPECT_EQ(kelenv_changes_set(changes, "bootargs", value.c_str()), 0);
	EXPECT_EQ(kelenv_changes_set(changes, "bootargs", value.c_str()), 0);
	EXPECT_EQ(kelenv_changes_set(changes, "serverip", std::string(163, 's').c_str()), -E2BIG);
	EXPECT_EQ(kelenv_changes_set(changes, "serverip", std::string(162, 's').c_str()), 0);
	EXPECT_EQ(kelenv_changes_delete(changes, "a"), -E2BIG);
	EXPECT_EQ(kelenv_changes_count(changes), 3u);

	fake_env_device device;
	EXPECT_EQ(kelenv_apply(device.env(), changes, nullptr), 0);
	EXPECT_EQ(device.entries, (entry_list{{"bootargs", value}, {"serverip",
						std::string(162, 's')}}));
	kelenv_changes_free(changes);
	kelenv_changes_free(nullptr);
	EXPECT_EQ(kelenv_apply(device.env(), nullptr, nullptr), -EINVAL);
}

TEST_F(Kelenv, ADriverWithoutWholeValuesServesWhatItsRecordCarries)
{
	device.lacking = whole_value_commands;
	const std::string carried(255, 'c'), full(256, 'f');
	device.entries = {{"serverip", "10.0.0.1"}, {"bootargs", carried}, {"full", full}};
	char *whole = nullptr;
	ASSERT_EQ(kelenv_get_alloc(env, "bootargs", &whole), 255);
	EXPECT_EQ(std::string(whole), carried);
	std::free(whole);
	std::vector<char> buffer(300, 'x');
	std::size_t needed = 0;
	EXPECT_EQ(kelenv_get_whole(env, "bootargs", buffer.data(), 255, &needed), -ERANGE);
	EXPECT_EQ(needed, 256u);
	EXPECT_EQ(buffer[0], 'x');
	// A full record may hold the start of a longer value.
	EXPECT_EQ(kelenv_get_whole(env, "full", buffer.data(), buffer.size(), &needed), -EOVERFLOW);
	EXPECT_EQ(kelenv_get_alloc(env, "full", &whole), -EOVERFLOW);

	// One change its record carries goes as the one record of old.
	device.requests.clear();
	std::size_t refused = 99;
	EXPECT_EQ(apply({{"serverip", full}}, &refused), 0);
	EXPECT_EQ(refused, 1u);
	EXPECT_EQ(device.sets.back().key, std::string("serverip"));
	EXPECT_EQ(apply({{"bootargs", ""}}), 0);
	EXPECT_EQ(apply({{"update_ip", ""}}), 0);	// absent: nothing to do
	EXPECT_EQ(device.requests, (request_list{UENV_IOC_CHANGE, UENV_IOC_SET, UENV_IOC_CHANGE,
						 UENV_IOC_GET, UENV_IOC_SET, UENV_IOC_CHANGE,
						 UENV_IOC_GET}));
	EXPECT_EQ(apply({{"ethaddr", "00:02"}}, &refused), -EPERM);
	EXPECT_EQ(refused, 0u);
	// Anything more could not be all or nothing.
	const entry_list after = {{"serverip", full}, {"full", full}};
	EXPECT_EQ(device.entries, after);
	EXPECT_EQ(apply({{"serverip", "1"}, {"update_ip", "2"}}, &refused), -EOPNOTSUPP);
	EXPECT_EQ(apply({{"serverip", std::string(257, 's')}}), -EOPNOTSUPP);
	EXPECT_EQ(device.entries, after);
}

// A module that takes an unknown command for done copies nothing back.
TEST_F(Kelenv, AnAnswerThatDoesNotAddUpIsNoValue)
{
	device.lacking = whole_value_commands;
	device.lacking_answer = 0;
	device.entries = {{"bootargs", std::string(300, 'b')}};
	char value[KELENV_VALUE_SIZE];
	EXPECT_EQ(kelenv_get_whole(env, "bootargs", value, sizeof value, nullptr), -EPROTO);
	EXPECT_EQ(walk(env, -EPROTO), entry_list{});
	EXPECT_EQ(kelenv_get(env, "bootargs", value, sizeof value), 256);	// as ever
}

TEST_F(Kelenv, AWalkGivesWholeValuesFromTheListOrKeyByKey)
{
	const std::string long_key(64, 'k'), long_value(1000, 'v');
	device.entries = {{long_key, "2"}, {"bootargs", long_value}, {"x", "a=b"}, {"empty", ""}};
	EXPECT_EQ(walk(env), device.entries);
	EXPECT_EQ(device.requests, request_list{UENV_IOC_LIST});
	// A driver without the list: key by key, still whole; a key deleted
	// between its position and its value is skipped.
	device.lacking = {UENV_IOC_LIST};
	EXPECT_EQ(walk(env), device.entries);
	const entry_list before = device.entries;
	device.before_get = [this] {
		device.before_get = nullptr;
		device.entries.erase(device.entries.begin());
	};
	EXPECT_EQ(walk(env), (entry_list{before[2], before[3]}));
	device.entries = before;
	// A list larger than a block: asked again with the size it needs.
	device.lacking.clear();
	device.entries[1].second.assign(5000, 'w');
	device.requests.clear();
	EXPECT_EQ(walk(env), device.entries);
	EXPECT_EQ(device.requests, request_list(2, UENV_IOC_LIST));

	// Without whole values: the records, asked once for whole values; a
	// value that fills its record ends the walk.
	device.lacking = whole_value_commands;
	device.entries[1].second.assign(255, 'c');
	device.requests.clear();
	EXPECT_EQ(walk(env), device.entries);
	EXPECT_EQ(std::count(device.requests.begin(), device.requests.end(), UENV_IOC_GET_VALUE),
		  1);
	device.entries[1].second.assign(256, 'f');
	EXPECT_EQ(walk(env, -EOVERFLOW), (entry_list{{long_key, "2"}}));
}

TEST_F(Kelenv, SerialSendsTheRecordAndAReadOnlyFileChangesNothing)
{
	uboot_serial_config config = {};
	config.baud = 9600;
	config.data_bits = 7;
	config.port = 1;
	EXPECT_EQ(kelenv_serial(env, &config), 0);
	ASSERT_EQ(device.serials.size(), 1u);
	EXPECT_EQ(std::memcmp(&device.serials[0], &config, sizeof config), 0);
	EXPECT_EQ(kelenv_serial(env, nullptr), -EINVAL);

	device.writable = false;
	device.entries = {{"serverip", "1"}};
	EXPECT_EQ(kelenv_serial(env, &config), -EBADF);
	EXPECT_EQ(kelenv_set(env, "serverip", "2"), -EBADF);
	EXPECT_EQ(kelenv_delete(env, "serverip"), -EBADF);
	EXPECT_EQ(device.entries.front().second, "1");
}

TEST(KelenvHandle, OpenAndCloseFiles)
{
	kelenv *env = nullptr;
	EXPECT_EQ(kelenv_open(&env, "/nonexistent/env", O_RDONLY), -ENOENT);
	EXPECT_EQ(kelenv_open(&env, "/dev/null", O_WRONLY), -EINVAL);
	EXPECT_EQ(kelenv_open(nullptr, "/dev/null", O_RDONLY), -EINVAL);
	EXPECT_EQ(env, nullptr);

	// A file that is no environment device: the ioctls say so.
	char path[] = "/tmp/kelenv-test-XXXXXX";
	int fd = mkstemp(path);
	ASSERT_GE(fd, 0);
	close(fd);
	ASSERT_EQ(kelenv_open(&env, path, O_RDWR), 0);
	EXPECT_EQ(kelenv_get(env, "serverip", nullptr, 0), -ENOTTY);
	EXPECT_EQ(kelenv_count(env), -ENOTTY);
	EXPECT_EQ(kelenv_set(env, "serverip", "1"), -ENOTTY);
	kelenv_close(env);
	kelenv_close(nullptr);
	unlink(path);

	// Another device: every call goes to its operations, and the close too.
	int closed = 0;
	kelenv_ops ops = {[](void *, unsigned long, void *) { return -EIO; },
			  [](void *context) { ++*static_cast<int *>(context); }};
	ASSERT_EQ(kelenv_open_ops(&env, &ops, &closed), 0);
	EXPECT_EQ(kelenv_count(env), -EIO);
	kelenv_close(env);
	EXPECT_EQ(closed, 1);
	ops.ioctl = nullptr;
	EXPECT_EQ(kelenv_open_ops(&env, &ops, &closed), -EINVAL);
}

TEST(KelenvHandle, ErrorsAreNamedInTheDriversTerms)
{
	EXPECT_STREQ(kelenv_strerror(-EPERM), "read-only key");
	EXPECT_STREQ(kelenv_strerror(-ENOSPC),
		     "the environment is full (the change does not fit in its 4096-byte block)");
	EXPECT_STREQ(kelenv_strerror(-ENODEV), "the driver was unbound from the device");
	EXPECT_STREQ(kelenv_strerror(-EBADF), "opened read-only (changes need O_RDWR)");
	EXPECT_STREQ(kelenv_strerror(-ENOTTY), "not an environment device");
	EXPECT_STREQ(kelenv_strerror(-ENAMETOOLONG), "the key is longer than 63 characters");
	EXPECT_STREQ(kelenv_strerror(-E2BIG),
		     "too long: more than the 4096-byte block can hold (or a value of more than "
		     "256 characters, which a driver without change sets cannot take)");
	EXPECT_STREQ(kelenv_strerror(-EOVERFLOW), "the value may be longer than 256 characters, "
		     "more than this driver hands over");
	EXPECT_STREQ(kelenv_strerror(-EOPNOTSUPP), "the driver takes no change sets, only one "
		     "change of up to 256 characters at a time");
	EXPECT_STREQ(kelenv_strerror(-ERANGE), "the buffer is too small for the whole value");
	EXPECT_NE(std::string(kelenv_strerror(-ENOENT)).find("not found"), std::string::npos);
	EXPECT_NE(std::string(kelenv_strerror(-EINVAL)).find("invalid"), std::string::npos);
	EXPECT_STREQ(kelenv_strerror(-EFAULT), "bad address");
	EXPECT_STREQ(kelenv_strerror(-ETIMEDOUT), std::strerror(ETIMEDOUT));
	EXPECT_STREQ(kelenv_strerror(0), "success");
	EXPECT_STREQ(kelenv_strerror(5), "not an error value");
}

} // namespace

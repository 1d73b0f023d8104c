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
};

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
	EXPECT_EQ(kelenv_set(env, "serverip", std::string(257, 'v').c_str()), -E2BIG);
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
	EXPECT_STREQ(kelenv_strerror(-E2BIG), "the value is longer than 256 characters");
	EXPECT_NE(std::string(kelenv_strerror(-ENOENT)).find("not found"), std::string::npos);
	EXPECT_NE(std::string(kelenv_strerror(-EINVAL)).find("invalid"), std::string::npos);
	EXPECT_STREQ(kelenv_strerror(-EFAULT), "bad address");
	EXPECT_STREQ(kelenv_strerror(-ETIMEDOUT), std::strerror(ETIMEDOUT));
	EXPECT_STREQ(kelenv_strerror(0), "success");
	EXPECT_STREQ(kelenv_strerror(5), "not an error value");
}

} // namespace

// /dev/env: the five commands, the command-word checks, faults in user
// memory, the plain file operations, and files that outlive their device.
#include "env_test.h"

using namespace envtest;

namespace {

class Device : public BoundDriver {
protected:
    std::vector<std::string> keys()
    {
        user_memory<std::uint32_t> count;
        EXPECT_EQ(0, ioctl(UENV_IOC_COUNT, count.arg()));
        std::vector<std::string> result;
        for (std::uint32_t i = 0; i < count.value; i++) {
            user_memory<uboot_env_index_record> rec;
            rec.value.index = i;
            EXPECT_EQ(0, ioctl(UENV_IOC_KEY_AT, rec.arg()));
            EXPECT_EQ(i, rec.value.index);
            result.emplace_back(rec.value.key, strnlen(rec.value.key, UENV_KEY_LEN));
        }
        return result;
    }
};

TEST_F(Device, OpenRecordsTheManagerForProcLookups)
{
    file *second = nullptr;
    ASSERT_EQ(0, hk::open("env", &second));
    EXPECT_EQ(info("Open Kelmora uboot env"), hk::log());
    EXPECT_EQ(uenv_host_bound_manager(), uenv_host_uhandle());
    EXPECT_EQ(2, hk::module_refcount());
    EXPECT_EQ(0, hk::close(second));
}

TEST_F(Device, GetReturnsTheCallersRecordWithTheValueFilledIn)
{
    uboot_env_record sent = record("bootcmd");
    std::memset(sent.value, '#', sizeof(sent.value));
    user_memory<uboot_env_record> rec(sent);
    ASSERT_EQ(0, ioctl(UENV_IOC_GET, rec.arg()));
    uboot_env_record expected = sent;
    std::memcpy(expected.value, "bootm", 6);
    EXPECT_EQ(0, std::memcmp(&expected, &rec.value, sizeof(expected)));

    user_memory<uboot_env_record> absent(record("nosuch", "untouched"));
    EXPECT_EQ(-ENOENT, ioctl(UENV_IOC_GET, absent.arg()));
    EXPECT_EQ("untouched", value_of(absent.value));
}

TEST_F(Device, SetChangesFlashAndRefusesReadOnlyKeys)
{
    user_memory<uboot_env_record> rec(record("serverip", "10.0.0.3"));
    ASSERT_EQ(0, ioctl(UENV_IOC_SET, rec.arg()));
    EXPECT_EQ(1, flash_writes());

    user_memory<uboot_env_record> ethaddr(record("ethaddr", "02:00:00:00:00:02"));
    EXPECT_EQ(-EPERM, ioctl(UENV_IOC_SET, ethaddr.arg()));
    EXPECT_NE(std::string::npos,
              log_text().find(warning("uboot_env_set", "set ethaddr not allowed!") +
                              error("uboot_env_fops_ioctl", "set ethaddr failed!")));
    EXPECT_EQ(1, flash_writes());
}

TEST_F(Device, CountKeyAtAndGetListTheWholeEnvironment)
{
    EXPECT_EQ((std::vector<std::string>{"bootargs", "bootcmd", "serverip", "ethaddr"}), keys());

    user_memory<uboot_env_record> add(record("update_ip", "10.0.0.7"));
    ASSERT_EQ(0, ioctl(UENV_IOC_SET, add.arg()));
    user_memory<uboot_env_record> del(record("serverip", ""));
    ASSERT_EQ(0, ioctl(UENV_IOC_SET, del.arg()));
    EXPECT_EQ((std::vector<std::string>{"bootargs", "bootcmd", "ethaddr", "update_ip"}), keys());
}

TEST_F(Device, KeyAtClearsTheRecordAfterTheKey)
{
    uboot_env_index_record sent{};
    std::memset(&sent, '#', sizeof(sent));
    sent.index = 1;
    user_memory<uboot_env_index_record> rec(sent);
    ASSERT_EQ(0, ioctl(UENV_IOC_KEY_AT, rec.arg()));
    char expected[UENV_KEY_LEN] = "bootcmd";
    EXPECT_EQ(0, std::memcmp(expected, rec.value.key, sizeof(expected)));
}

TEST_F(Device, KeyAtBeyondTheListFailsAndReleasesTheDevice)
{
    for (std::uint32_t index : {4u, 0xffffffffu}) {
        user_memory<uboot_env_index_record> rec;
        rec.value.index = index;
        EXPECT_EQ(-ENOENT, ioctl(UENV_IOC_KEY_AT, rec.arg())) << index;
    }
    EXPECT_EQ(4u, keys().size()); // would hang if the semaphore were kept
}

TEST_F(Device, CommandWordChecks)
{
    user_memory<uboot_env_record> rec(record("bootcmd"));
    EXPECT_EQ(-EINVAL, ioctl(_IOWR('F', 1, uboot_env_record), rec.arg()));
    EXPECT_EQ("", hk::log());
    // Only type and number count: 0x4501 is a get as well.
    EXPECT_EQ(0, ioctl(0x4501, rec.arg()));
    EXPECT_EQ(0, ioctl(_IOWR('E', 1, uboot_env_record), rec.arg()));

    for (unsigned int cmd : {0x4500u, 0x4509u, 0xc14045ffu}) {
        hk::clear_log();
        EXPECT_EQ(-ENOTTY, ioctl(cmd, rec.arg()));
        char text[64];
        std::snprintf(text, sizeof(text), "ioctl cmd[0x%x] not support!\033[m", cmd);
        EXPECT_EQ("\033[0;31m[K] ERROR|ubootenv/kel_ubootenv|uboot_env_fops_ioctl|N: " +
                      std::string(text),
                  log_text());
    }
}

TEST_F(Device, FaultingUserMemoryFailsEveryCommandWithoutChanges)
{
    // Each argument one byte short of its mapping.
    user_memory<uboot_env_record> get(record("bootcmd"), sizeof(uboot_env_record) - 1);
    user_memory<uboot_env_record> set(record("serverip", "10.0.0.3"),
                                      sizeof(uboot_env_record) - 1);
    user_memory<std::uint32_t> count(0, sizeof(std::uint32_t) - 1);
    user_memory<uboot_env_index_record> key_at({}, sizeof(uboot_env_index_record) - 1);
    uboot_serial_config cfg{};
    cfg.baud = 115200;
    cfg.data_bits = 8;
    user_memory<uboot_serial_config> serial(cfg, sizeof(cfg) - 1);
    EXPECT_EQ(-EFAULT, ioctl(UENV_IOC_GET, get.arg()));
    EXPECT_EQ(-EFAULT, ioctl(UENV_IOC_SET, set.arg()));
    EXPECT_EQ(-EFAULT, ioctl(UENV_IOC_COUNT, count.arg()));
    EXPECT_EQ(-EFAULT, ioctl(UENV_IOC_KEY_AT, key_at.arg())); // the answer does not fit
    EXPECT_EQ(-EFAULT, ioctl(UENV_IOC_SERIAL, serial.arg()));

    // Unmapped, and a range that runs past the end of user space.
    for (unsigned long arg : {0ul, static_cast<unsigned long>(hk::user_space_end - 8)}) {
        for (unsigned int cmd :
             {UENV_IOC_GET, UENV_IOC_SET, UENV_IOC_COUNT, UENV_IOC_KEY_AT, UENV_IOC_SERIAL})
            EXPECT_EQ(-EFAULT, ioctl(cmd, arg)) << std::hex << cmd << " " << arg;
    }
    EXPECT_EQ(0, flash_writes());
    EXPECT_EQ("", hk::log());
    EXPECT_EQ(4u, keys().size());
}

// A node readable by all, for monitoring, must not let anyone change flash.
TEST_F(Device, ChangesNeedAFileOpenedForWriting)
{
    file *reader = nullptr;
    ASSERT_EQ(0, hk::open("env", &reader, hk::read_only));
    user_memory<uboot_env_record> set(record("bootargs", "init=/bin/sh"));
    EXPECT_EQ(-EBADF, hk::ioctl(reader, UENV_IOC_SET, set.arg()));
    uboot_serial_config cfg{};
    cfg.baud = 9600;
    cfg.data_bits = 8;
    user_memory<uboot_serial_config> serial(cfg);
    EXPECT_EQ(-EBADF, hk::ioctl(reader, UENV_IOC_SERIAL, serial.arg()));
    EXPECT_EQ(0, flash_writes());

    user_memory<uboot_env_record> get(record("bootargs"));
    EXPECT_EQ(0, hk::ioctl(reader, UENV_IOC_GET, get.arg()));
    EXPECT_EQ("mem=42M console=ttyS0,115200n8", value_of(get.value));
    user_memory<std::uint32_t> count;
    EXPECT_EQ(0, hk::ioctl(reader, UENV_IOC_COUNT, count.arg()));
    user_memory<uboot_env_index_record> key_at;
    EXPECT_EQ(0, hk::ioctl(reader, UENV_IOC_KEY_AT, key_at.arg()));
    EXPECT_STREQ("bootargs", key_at.value.key);
    EXPECT_EQ(0, hk::close(reader));

    EXPECT_EQ(0, ioctl(UENV_IOC_SET, set.arg())); // opened read-write
}

TEST_F(Device, ReadWriteAndPoll)
{
    char buf[16] = "hello";
    EXPECT_EQ(0, hk::read(env, buf, sizeof(buf)));
    EXPECT_EQ(-EINVAL, hk::write(env, buf, 5)); // a writer must not retry for ever
    EXPECT_EQ(0u, hk::poll(env));
}

TEST_F(Device, FileOpenedBeforeUnbindIsFencedOff)
{
    hk::unbind(uenv_host_device());
    EXPECT_EQ(nullptr, uenv_host_uhandle());
    user_memory<uboot_env_record> rec(record("bootcmd"));
    EXPECT_EQ(-ENODEV, ioctl(UENV_IOC_GET, rec.arg()));
    EXPECT_EQ(-ENODEV, ioctl(UENV_IOC_SET, rec.arg()));
    EXPECT_EQ(1u, hk::live_allocations()) << "the open file holds the manager";
    EXPECT_EQ(0, hk::close(env));
    env = nullptr;
    EXPECT_EQ(0u, hk::live_allocations());
}

} // namespace

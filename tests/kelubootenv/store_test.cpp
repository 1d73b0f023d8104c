// The entry store: look-ups, the permitted keys, changes and their
// write-back to flash, and what a failure leaves behind.
#include "env_test.h"

using namespace envtest;

namespace {

const entries board_env = {
    {"bootargs", "mem=42M console=ttyS0,115200n8"},
    {"bootcmd", "bootm"},
    {"serverip2", "10.0.0.9"},
    {"serverip", "10.0.0.2"},
    {"ethaddr", "00:1c:27:4b:00:01"},
};

class Store : public StoreTest {
protected:
    void SetUp() override
    {
        StoreTest::SetUp();
        load(board_env);
        hk::clear_log();
    }

    int set(const std::string &key, const std::string &value)
    {
        uboot_env_record rec = record(key, value);
        return uenv_host_set(m, &rec);
    }

    // What a successful set must leave: list, g_env and flash agree.
    void expect_written(const entries &env)
    {
        EXPECT_EQ(env, list());
        block written = make_block(strings(env));
        EXPECT_EQ(written, g_env());
        EXPECT_EQ(written, flash_block());
    }

    void expect_untouched()
    {
        EXPECT_EQ(board_env, list());
        EXPECT_EQ(block{}, g_env());
        EXPECT_TRUE(hk::board_calls().empty());
    }
};

TEST_F(Store, GetFindsReadOnlyKeysToo)
{
    uboot_env_record rec = record("bootcmd");
    EXPECT_EQ(0, uenv_host_get(m, &rec));
    EXPECT_EQ("bootm", value_of(rec));
}

TEST_F(Store, GetOfAnAbsentKeyLeavesTheRecord)
{
    uboot_env_record rec = record("nosuch", "as sent");
    EXPECT_EQ(-ENOENT, uenv_host_get(m, &rec));
    EXPECT_EQ("as sent", value_of(rec));
    EXPECT_EQ(info("Cannot find keyword nosuch "), hk::log());
}

TEST_F(Store, KeysMatchWhole)
{
    uboot_env_record rec = record("server");
    EXPECT_EQ(-ENOENT, uenv_host_get(m, &rec));
    rec = record("serverip");
    EXPECT_EQ(0, uenv_host_get(m, &rec));
    EXPECT_EQ("10.0.0.2", value_of(rec));

    ASSERT_EQ(0, set("serverip", "10.0.0.3"));
    entries env = board_env;
    env[3].second = "10.0.0.3"; // "serverip2" is another key
    EXPECT_EQ(env, list());
}

TEST_F(Store, LongValuesFromFlashArriveCutWithoutTerminator)
{
    uenv_host_manager_delete(m);
    load(entries{{"long", std::string(300, 'x')}});
    uboot_env_record rec = record("long", "");
    std::memset(rec.value, '?', sizeof(rec.value));
    EXPECT_EQ(0, uenv_host_get(m, &rec));
    EXPECT_EQ(std::string(256, 'x'), std::string(rec.value, sizeof(rec.value)));
}

TEST_F(Store, OnlyFivePermittedKeysCanBeSet)
{
    EXPECT_EQ(-EPERM, set("ethaddr", "02:00:00:00:00:02"));
    EXPECT_EQ(warning("uboot_env_set", "set ethaddr not allowed!"), log_text());
    EXPECT_EQ(-EPERM, set("serverip2", "x"));
    EXPECT_EQ(-EPERM, set("server", "x"));
    expect_untouched();

    for (const char *key : {"serverip", "bootargs", "device_type", "identification",
                            "update_ip"})
        EXPECT_EQ(0, set(key, "v")) << key;
}

TEST_F(Store, ChangeKeepsThePositionAndWritesOnceAfterEvent8)
{
    ASSERT_EQ(0, set("bootargs", "mem=42M console=ttyS0,9600n8"));
    entries env = board_env;
    env[0].second = "mem=42M console=ttyS0,9600n8";
    expect_written(env);

    std::vector<hk::board_call> calls = hk::board_calls();
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ(hk::board_call_kind::notify, calls[0].kind);
    EXPECT_EQ(8u, calls[0].event);
    EXPECT_NE(nullptr, calls[0].data); // the flash device
    EXPECT_EQ(hk::board_call_kind::write, calls[1].kind);
    EXPECT_EQ(0x2f000u, calls[1].offset);
    EXPECT_EQ(4096u, calls[1].len);
}

TEST_F(Store, NewKeysAreAppended)
{
    ASSERT_EQ(0, set("update_ip", "10.0.0.7"));
    entries env = board_env;
    env.emplace_back("update_ip", "10.0.0.7");
    expect_written(env);
    EXPECT_EQ(6u, uenv_host_count(m));
}

TEST_F(Store, NewKeyWithEmptyValueIsStoredEmpty)
{
    ASSERT_EQ(0, set("identification", ""));
    entries env = board_env;
    env.emplace_back("identification", "");
    expect_written(env);
}

TEST_F(Store, EmptyValueDeletes)
{
    ASSERT_EQ(0, set("serverip", ""));
    entries env = board_env;
    env.erase(env.begin() + 3);
    expect_written(env);
    EXPECT_EQ(4u, uenv_host_count(m));
}

TEST_F(Store, InputIsCutToItsFields)
{
    uboot_env_record rec = record("device_type", std::string(256, 'd'));
    ASSERT_EQ(0, uenv_host_set(m, &rec));
    EXPECT_EQ(std::string(256, 'd'), list().back().second);
}

TEST_F(Store, UnterminatedKeyIsNeverReadPastItsField)
{
    // 64 key characters, then the value field: messages show the key alone.
    uboot_env_record rec = record(std::string(64, 'k'), "VALUE");
    EXPECT_EQ(-EPERM, uenv_host_set(m, &rec));
    EXPECT_EQ(-ENOENT, uenv_host_get(m, &rec));
    std::string log = hk::log();
    EXPECT_NE(std::string::npos, log.find("set " + std::string(64, 'k') + " not allowed!"));
    EXPECT_NE(std::string::npos, log.find("Cannot find keyword " + std::string(64, 'k') + " "));
    EXPECT_EQ(std::string::npos, log.find("VALUE"));
}

TEST_F(Store, OutOfMemoryAtAnyAllocationChangesNothing)
{
    struct change {
        const char *key, *value;
    };
    // A change, a new key and a deletion; each allocates differently.
    for (change c : {change{"serverip", "10.9.9.9"}, change{"update_ip", "10.0.0.7"},
                     change{"serverip", ""}}) {
        for (unsigned nth = 1;; nth++) {
            hk::fail_allocation(nth);
            int ret = set(c.key, c.value);
            hk::fail_allocation(0);
            if (ret == 0)
                break;
            ASSERT_EQ(-ENOMEM, ret) << c.key << " allocation " << nth;
            expect_untouched();
        }
        // Back to the starting point for the next change.
        uenv_host_manager_delete(m);
        hk::reset();
        std::memset(uenv_host_g_env(), 0, UENV_HOST_BLOCK_SIZE);
        load(board_env);
    }
}

// What readers see must be what the next boot gets: the change is undone.
TEST_F(Store, FailedFlashWriteIsReportedAndChangesNothing)
{
    hk::fail_flash_write(1, -EIO);
    EXPECT_EQ(-EIO, set("serverip", "10.0.0.3"));
    EXPECT_EQ(error("uboot_env_write", "Flash media checking write[2f000] failed!"),
              log_text());
    EXPECT_EQ(board_env, list());
    EXPECT_EQ(block{}, g_env());

    // Flash may hold anything now: the same set writes again.
    hk::clear_board_calls();
    EXPECT_EQ(0, set("serverip", "10.0.0.3"));
    entries env = board_env;
    env[3].second = "10.0.0.3";
    expect_written(env);
}

TEST_F(Store, MissingFlashDeviceFailsTheWrite)
{
    hk::remove_flash();
    EXPECT_EQ(-ENODEV, set("serverip", "10.0.0.3"));
    EXPECT_TRUE(hk::board_calls().empty());
}

TEST_F(Store, UnchangedBlockIsNotRewritten)
{
    ASSERT_EQ(0, set("serverip", "10.0.0.3"));
    hk::clear_board_calls();
    EXPECT_EQ(0, set("serverip", "10.0.0.3"));
    EXPECT_TRUE(hk::board_calls().empty());
    // Back and forth differs from what flash holds at each step.
    EXPECT_EQ(0, set("serverip", "10.0.0.2"));
    EXPECT_EQ(2u, hk::board_calls().size());
}

class FullStore : public Store {
protected:
    // Pads the environment so that exactly `room` data bytes stay free.
    void leave_room(std::size_t room)
    {
        std::size_t used = strings(board_env).size();
        std::string pad(data_size - used - room - std::string("pad=").size() - 1, 'p');
        entries env = board_env;
        env.emplace_back("pad", pad);
        uenv_host_manager_delete(m);
        load(env);
        hk::clear_log();
    }
};

TEST_F(FullStore, SetThatNoLongerFitsIsRefusedBeforeAnythingChanges)
{
    leave_room(10);
    entries before = list();
    EXPECT_EQ(-ENOSPC, set("update_ip", "12345678")); // 10 + 8 + 2 > 10
    EXPECT_EQ(before, list());
    EXPECT_EQ(block{}, g_env());
    EXPECT_TRUE(hk::board_calls().empty());
    EXPECT_NE(std::string::npos, hk::log().find("set update_ip: no room"));
}

// U-Boot and fw_printenv stop at the first empty string: a block whose
// strings reach its last byte has none, and fw_printenv rejects it.
TEST_F(FullStore, SetMustLeaveTheEmptyStringThatEndsTheEnvironment)
{
    leave_room(10);
    entries before = list();
    EXPECT_EQ(-ENOSPC, set("serverip", "10.0.0.2" + std::string(10, '0')));
    EXPECT_EQ(before, list());
    EXPECT_TRUE(hk::board_calls().empty());
    EXPECT_EQ(warning("uboot_env_set", "set serverip: no room, 4092 of 4091 bytes!"),
              log_text());

    ASSERT_EQ(0, set("serverip", "10.0.0.2" + std::string(9, '0')));
    block written = flash_block();
    EXPECT_EQ(make_block(strings(list())), written);
    EXPECT_EQ('\0', written[UENV_HOST_BLOCK_SIZE - 1]);
    EXPECT_EQ('\0', written[UENV_HOST_BLOCK_SIZE - 2]);
    EXPECT_NE('\0', written[UENV_HOST_BLOCK_SIZE - 3]);
}

TEST_F(FullStore, ShrinkingAndDeletingAlwaysFit)
{
    leave_room(0);
    EXPECT_EQ(0, set("serverip", "1"));
    EXPECT_EQ(0, set("serverip", ""));
}

} // namespace

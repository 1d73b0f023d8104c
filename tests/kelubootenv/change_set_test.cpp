// /dev/env commands 6 to 8: whole values, change sets and the whole list,
// each a record with the caller's buffer right behind it; and what a
// failed flash write leaves behind, for every command that changes flash.
#include "env_test.h"

using namespace envtest;

namespace {

const std::string long_bootargs =
    "mem=42M console=ttyS0,115200n8 mtdparts=physmap-flash.0:256k(boot)ro,64k(env),"
    "2m(kernel),-(rootfs) " +
    std::string(900, 'x');

const entries board_env = {
    {"bootargs", long_bootargs},
    {"bootcmd", "bootm"},
    {"serverip", "10.0.0.2"},
    {"ethaddr", "00:1c:27:4b:00:01"},
};

// A record and the buffer behind it as one piece of user memory that
// starts at an odd address; bytes past `mapped` fault.
template <typename Record> class request {
public:
    static constexpr std::size_t all = ~std::size_t(0);

    request(const Record &rec, std::size_t buffer_size, const std::string &buffer = "",
            std::size_t mapped = all)
        : bytes_(1 + sizeof(Record) + buffer_size, '#')
    {
        std::memcpy(start(), &rec, sizeof(rec));
        std::memcpy(start() + sizeof(rec), buffer.data(), std::min(buffer.size(), buffer_size));
        hk::map_user(start(), std::min(mapped, bytes_.size() - 1));
    }
    ~request() { hk::unmap_user(start()); }
    request(const request &) = delete;
    request &operator=(const request &) = delete;

    unsigned long arg() { return reinterpret_cast<unsigned long>(start()); }
    Record record()
    {
        Record rec;
        std::memcpy(&rec, start(), sizeof(rec));
        return rec;
    }
    std::string buffer()
    {
        return std::string(start() + sizeof(Record), bytes_.data() + bytes_.size());
    }

private:
    char *start() { return bytes_.data() + 1; }
    std::vector<char> bytes_;
};

uboot_env_value_record value_record(const std::string &key, std::uint32_t size)
{
    uboot_env_value_record rec{};
    std::memcpy(rec.key, key.data(), std::min(key.size(), sizeof(rec.key)));
    rec.size = size;
    return rec;
}

// Changes as the command takes them: key and value, each with its NUL.
std::string changes(const entries &list)
{
    std::string out;
    for (const auto &[key, value] : list)
        out += key + '\0' + value + '\0';
    return out;
}

class Commands : public BoundDriver {
protected:
    block initial_flash() override { return make_block(strings(board_env)); }

    entries env()
    {
        uboot_env_manager *m = uenv_host_bound_manager();
        entries list;
        for (std::uint32_t i = 0; i < uenv_host_count(m); i++)
            list.emplace_back(uenv_host_key(m, i), uenv_host_value(m, i));
        return list;
    }

    struct change_result {
        // cppcheck-suppress unusedStructMember ; read through the EXPECT macros
        long ret;
        std::uint32_t refused;
    };
    // refused stays 0xeeeeeeee when the driver hands nothing back.
    change_result change(const std::string &set, std::size_t size)
    {
        uboot_env_change_record rec{static_cast<std::uint32_t>(size), 0xeeeeeeee};
        request<uboot_env_change_record> req(rec, set.size(), set);
        long ret = ioctl(UENV_IOC_CHANGE, req.arg());
        EXPECT_EQ(size, req.record().size);
        return {ret, req.record().refused};
    }
    change_result change(const entries &list)
    {
        std::string set = changes(list);
        return change(set, set.size());
    }

    // A refusal changes nothing anywhere.
    void expect_unchanged(const entries &before)
    {
        EXPECT_EQ(before, env());
        EXPECT_EQ(make_block(strings(before)), g_env());
        EXPECT_EQ(make_block(strings(before)), flash_block());
        EXPECT_EQ(0, flash_writes());
    }
};

TEST_F(Commands, GetValueReturnsTheWholeValueOrTheSizeItNeeds)
{
    const std::uint32_t need = static_cast<std::uint32_t>(long_bootargs.size() + 1);

    request<uboot_env_value_record> small(value_record("bootargs", need - 1), need - 1);
    EXPECT_EQ(-ERANGE, ioctl(UENV_IOC_GET_VALUE, small.arg()));
    EXPECT_EQ(need, small.record().size);
    EXPECT_EQ(std::string(need - 1, '#'), small.buffer()) << "nothing copied";

    request<uboot_env_value_record> exact(value_record("bootargs", need), need + 1);
    ASSERT_EQ(0, ioctl(UENV_IOC_GET_VALUE, exact.arg()));
    EXPECT_EQ(need, exact.record().size);
    EXPECT_EQ(std::string("bootargs"), exact.record().key);
    EXPECT_EQ(long_bootargs + '\0' + '#', exact.buffer());

    request<uboot_env_value_record> absent(value_record("nosuch", 16), 16);
    EXPECT_EQ(-ENOENT, ioctl(UENV_IOC_GET_VALUE, absent.arg()));
    EXPECT_EQ(16u, absent.record().size);
    request<uboot_env_value_record> unterminated(value_record(std::string(64, 'k'), 16), 16);
    EXPECT_EQ(-EINVAL, ioctl(UENV_IOC_GET_VALUE, unterminated.arg()));
    EXPECT_EQ(std::string(16, '#'), unterminated.buffer());
}

TEST_F(Commands, ListReturnsEveryStringOrTheSizeItNeeds)
{
    const std::string all = strings(board_env);
    const auto size = static_cast<std::uint32_t>(all.size());

    request<uboot_env_list_record> small(uboot_env_list_record{size - 1, 0}, size);
    EXPECT_EQ(-ERANGE, ioctl(UENV_IOC_LIST, small.arg()));
    EXPECT_EQ(size, small.record().size);
    EXPECT_EQ(4u, small.record().count);
    EXPECT_EQ(std::string(size, '#'), small.buffer());

    request<uboot_env_list_record> exact(uboot_env_list_record{size, 0}, size + 1);
    ASSERT_EQ(0, ioctl(UENV_IOC_LIST, exact.arg()));
    EXPECT_EQ(size, exact.record().size);
    EXPECT_EQ(4u, exact.record().count);
    EXPECT_EQ(all + '#', exact.buffer());
}

TEST_F(Commands, ChangeSetIsAppliedInOrderWithOneWrite)
{
    const std::string long_value(700, 'v');
    ASSERT_EQ(0, change({{"serverip", "10.0.0.3"},
                         {"update_ip", "10.0.0.7"},
                         {"identification", long_value},
                         {"device_type", ""},      // absent: nothing
                         {"serverip", ""},         // deleted
                         {"serverip", "10.0.0.4"}, // then added at the end
                         {"update_ip", "10.0.0.8"},
                         {"bootargs", "console=ttyS0,115200n8"},
                         {"device_type", "gateway"},
                         {"device_type", ""}})
                     .ret);
    const entries expected = {
        {"bootargs", "console=ttyS0,115200n8"}, {"bootcmd", "bootm"},
        {"ethaddr", "00:1c:27:4b:00:01"},       {"update_ip", "10.0.0.8"},
        {"identification", long_value},         {"serverip", "10.0.0.4"},
    };
    EXPECT_EQ(expected, env());
    EXPECT_EQ(make_block(strings(expected)), g_env());
    EXPECT_EQ(make_block(strings(expected)), flash_block());
    ASSERT_EQ(2u, hk::board_calls().size());
    EXPECT_EQ(hk::board_call_kind::notify, hk::board_calls()[0].kind);
    EXPECT_EQ(1, flash_writes());

    // A set and a delete of the same key, a value set to itself, nothing
    // at all: the block stays as it is and is not written.
    hk::clear_board_calls();
    EXPECT_EQ(0, change({{"device_type", "x"}, {"device_type", ""}}).ret);
    EXPECT_EQ(0, change({{"serverip", "10.0.0.4"}}).ret);
    EXPECT_EQ(0, change("", 0).ret);
    EXPECT_EQ(expected, env());
    EXPECT_TRUE(hk::board_calls().empty());

    EXPECT_EQ(0, change({{"update_ip", "10.0.0.9"}, {"update_ip", ""}}).ret);
    EXPECT_EQ(5u, env().size()) << "an existing key set and deleted is gone";
    EXPECT_EQ(1, flash_writes());
}

TEST_F(Commands, ChangeSetMustFitAndNamesTheChangeThatDidNot)
{
    const std::size_t used = strings(board_env).size();
    // "identification=" + its value + NUL takes the rest up to 4091 bytes.
    const std::size_t fill = UENV_STRINGS_MAX - used - std::string("identification=").size() - 1;
    const entries before = board_env;

    struct overflow {
        const char *what;
        entries set;
        std::uint32_t refused;
    } const overflows[] = {
        {"one byte too many", {{"identification", std::string(fill + 1, 'i')}}, 0},
        {"a huge value, a delete that does not make up for it",
         {{"serverip", "1"}, {"identification", std::string(fill + 100, 'i')}, {"serverip", ""}},
         1},
        {"only both together",
         {{"identification", std::string(fill - 5, 'i')}, {"update_ip", "10.0.0.7"}},
         1},
    };
    for (const overflow &o : overflows) {
        SCOPED_TRACE(o.what);
        hk::clear_log();
        change_result r = change(o.set);
        EXPECT_EQ(-ENOSPC, r.ret);
        EXPECT_EQ(o.refused, r.refused);
        EXPECT_NE(std::string::npos,
                  log_text().find("set " + o.set[o.refused].first + ": no room"));
        expect_unchanged(before);
    }

    // Too much on the way, room in the end: fine. Exactly full: written.
    ASSERT_EQ(0, change({{"identification", std::string(fill + 100, 'i')},
                         {"identification", std::string(fill, 'i')}})
                     .ret);
    block written = flash_block();
    EXPECT_EQ(make_block(strings(env())), written);
    EXPECT_EQ(std::string(2, '\0'), data_of(written).substr(UENV_STRINGS_MAX - 1));
    EXPECT_NE('\0', data_of(written)[UENV_STRINGS_MAX - 2]);
}

TEST_F(Commands, MalformedOrForbiddenChangeSetsAreRefusedWhole)
{
    const std::string good = changes({{"serverip", "10.0.0.3"}});
    struct bad {
        const char *what;
        std::string set;
        std::size_t size;
        long ret;
        std::uint32_t refused;
    } const bads[] = {
        {"value without its NUL", good + std::string("bootargs\0x", 10), good.size() + 10, -EINVAL,
         1},
        {"key without its NUL", good + "bootargs", good.size() + 8, -EINVAL, 1},
        {"size that cuts the last change", good + good, good.size() * 2 - 1, -EINVAL, 1},
        {"size that runs past the changes", good + std::string(4, '\0'), good.size() + 4, -EINVAL,
         1},
        {"empty key", good + std::string("\0x\0", 3), good.size() + 3, -EINVAL, 1},
        {"key with '='", changes({{"serverip=1", "2"}}), 13, -EINVAL, 0},
        {"key of 64 characters", changes({{std::string(64, 'k'), "v"}}), 67, -EINVAL, 0},
        {"read-only key", good + changes({{"ethaddr", "02:00:00:00:00:02"}}), good.size() + 26,
         -EPERM, 1},
        {"absent read-only key", changes({{"nosuch", ""}}) + good, good.size() + 8, -EPERM, 0},
        {"more than a set may carry", good, UENV_CHANGES_MAX + 1, -E2BIG, 0xeeeeeeee},
    };
    for (const bad &b : bads) {
        SCOPED_TRACE(b.what);
        change_result r = change(b.set, b.size);
        EXPECT_EQ(b.ret, r.ret);
        EXPECT_EQ(b.refused, r.refused);
        expect_unchanged(board_env);
    }
    EXPECT_NE(std::string::npos,
              log_text().find(warning("uboot_env_set", "set ethaddr not allowed!")));
}

TEST_F(Commands, UserMemoryAndFilePermissions)
{
    // A buffer that ends before the size it claims.
    const std::string set = changes({{"serverip", "10.0.0.3"}});
    uboot_env_change_record rec{static_cast<std::uint32_t>(set.size()), 0};
    request<uboot_env_change_record> short_change(rec, set.size(), set, sizeof(rec) + 4);
    EXPECT_EQ(-EFAULT, ioctl(UENV_IOC_CHANGE, short_change.arg()));
    request<uboot_env_value_record> short_value(value_record("serverip", 64), 64, "",
                                                sizeof(uboot_env_value_record) + 8);
    EXPECT_EQ(-EFAULT, ioctl(UENV_IOC_GET_VALUE, short_value.arg()));
    request<uboot_env_list_record> short_list(uboot_env_list_record{4096, 0}, 4096, "", 100);
    EXPECT_EQ(-EFAULT, ioctl(UENV_IOC_LIST, short_list.arg()));
    for (unsigned int cmd : {UENV_IOC_GET_VALUE, UENV_IOC_CHANGE, UENV_IOC_LIST}) {
        EXPECT_EQ(-EFAULT, ioctl(cmd, 0)) << std::hex << cmd;
        EXPECT_EQ(-EFAULT, ioctl(cmd, hk::user_space_end - 4)) << std::hex << cmd;
    }
    EXPECT_EQ(0, flash_writes());

    file *reader = nullptr;
    ASSERT_EQ(0, hk::open("env", &reader, hk::read_only));
    request<uboot_env_change_record> refused(rec, set.size(), set);
    EXPECT_EQ(-EBADF, hk::ioctl(reader, UENV_IOC_CHANGE, refused.arg()));
    request<uboot_env_value_record> value(value_record("serverip", 64), 64);
    EXPECT_EQ(0, hk::ioctl(reader, UENV_IOC_GET_VALUE, value.arg()));
    request<uboot_env_list_record> list(uboot_env_list_record{4096, 0}, 4096);
    EXPECT_EQ(0, hk::ioctl(reader, UENV_IOC_LIST, list.arg()));
    EXPECT_EQ(0, hk::close(reader));
    EXPECT_EQ(board_env, env());
}

TEST_F(Commands, OutOfMemoryAtAnyAllocationOfAChangeSetChangesNothing)
{
    const entries set = {
        {"serverip", ""}, {"update_ip", "10.0.0.7"}, {"bootargs", "console=ttyS0,9600"}};
    for (unsigned nth = 1;; nth++) {
        hk::fail_allocation(nth);
        change_result r = change(set);
        hk::fail_allocation(0);
        if (r.ret == 0)
            break;
        ASSERT_EQ(-ENOMEM, r.ret) << "allocation " << nth;
        expect_unchanged(board_env);
    }
    EXPECT_EQ(1, flash_writes());
}

// Readers must see what the next boot will get: every changer leaves the
// list, g_env and flash as they were when its flash write fails.
TEST_F(Commands, FailedFlashWriteChangesNothing)
{
    uboot_serial_config cfg{};
    cfg.baud = 9600;
    cfg.data_bits = 7;
    user_memory<uboot_serial_config> serial(cfg);
    user_memory<uboot_env_record> set(record("serverip", "10.0.0.3"));
    const std::string set_changes = changes({{"serverip", "10.0.0.3"}, {"update_ip", "1"}});
    uboot_env_change_record rec{static_cast<std::uint32_t>(set_changes.size()), 0};
    request<uboot_env_change_record> change_set(rec, set_changes.size(), set_changes);

    struct changer {
        const char *what;
        unsigned int cmd;
        unsigned long arg;
    } const changers[] = {
        {"set", UENV_IOC_SET, set.arg()},
        {"serial console", UENV_IOC_SERIAL, serial.arg()},
        {"change set", UENV_IOC_CHANGE, change_set.arg()},
    };
    for (const changer &c : changers) {
        SCOPED_TRACE(c.what);
        hk::clear_log();
        hk::fail_flash_write(1, -EIO);
        EXPECT_EQ(-EIO, ioctl(c.cmd, c.arg));
        EXPECT_NE(
            std::string::npos,
            log_text().find(error("uboot_env_write", "Flash media checking write[2f000] failed!")));
        EXPECT_EQ(board_env, env());
        EXPECT_EQ(make_block(strings(board_env)), g_env());
        EXPECT_EQ(make_block(strings(board_env)), flash_block());
    }
}

// The probe's console rewrite as well: the environment stays as flash
// holds it, with its old console.
TEST_F(KernelTest, FailedFlashWriteOfTheConsoleRewriteAtProbeChangesNothing)
{
    const block flash = make_block(strings({{"bootargs", "mem=42M console=ttyS1,9600"}}));
    put_flash_block(flash);
    hk::fail_flash_write(1, -EIO);
    ASSERT_EQ(0, init_module());
    ASSERT_TRUE(hk::bound(uenv_host_device()));
    uboot_env_manager *m = uenv_host_bound_manager();
    ASSERT_EQ(1u, uenv_host_count(m));
    EXPECT_STREQ("mem=42M console=ttyS1,9600", uenv_host_value(m, 0));
    EXPECT_EQ(flash, g_env());
    EXPECT_EQ(flash, flash_block());
    cleanup_module();
    EXPECT_EQ(0u, hk::live_allocations());
}

} // namespace

// Shared by the driver's host tests: blocks, records and a clean kernel.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "hostkernel.h"
#include "kel_ubootenv_host.h"

namespace envtest {

using block = std::array<std::uint8_t, UENV_HOST_BLOCK_SIZE>;
using entries = std::vector<std::pair<std::string, std::string>>;

constexpr std::size_t data_size = UENV_HOST_BLOCK_SIZE - 4;

inline std::uint32_t stored_crc(const block &b)
{
    return b[0] | b[1] << 8 | b[2] << 16 | std::uint32_t(b[3]) << 24;
}

// The CRC as zlib computes it: an oracle independent of the driver.
inline std::uint32_t zlib_crc(const block &b)
{
    return static_cast<std::uint32_t>(::crc32(0, b.data() + 4, data_size));
}

inline void seal(block &b)
{
    std::uint32_t crc = zlib_crc(b);
    for (int i = 0; i < 4; i++)
        b[i] = static_cast<std::uint8_t>(crc >> (8 * i));
}

// "k=v" strings with their NULs, as they stand in a block's data area.
inline std::string strings(const entries &env)
{
    std::string data;
    for (const auto &[key, value] : env)
        data += key + "=" + value + '\0';
    return data;
}

// A valid block whose data area starts with data, zero after it.
inline block make_block(const std::string &data, std::uint8_t fill = 0)
{
    block b;
    b.fill(fill);
    std::memcpy(b.data() + 4, data.data(), std::min(data.size(), data_size));
    seal(b);
    return b;
}

inline std::string data_of(const block &b)
{
    return std::string(reinterpret_cast<const char *>(b.data() + 4), data_size);
}

inline uboot_env_record record(const std::string &key, const std::string &value = "")
{
    uboot_env_record rec{};
    std::memcpy(rec.key, key.data(), std::min(key.size(), sizeof(rec.key)));
    std::memcpy(rec.value, value.data(), std::min(value.size(), sizeof(rec.value)));
    return rec;
}

inline std::string value_of(const uboot_env_record &rec)
{
    return std::string(rec.value, strnlen(rec.value, sizeof(rec.value)));
}

// The kernel log with source line numbers replaced by N, so messages can be
// compared whole without pinning the driver's line numbers.
inline std::string log_text()
{
    static const std::regex line_number(R"(\|(\d+): )");
    return std::regex_replace(hk::log(), line_number, "|N: ");
}

inline std::string info(const std::string &text) { return "\033[0;32m[K] " + text + "\n\033[m"; }

inline std::string warning(const std::string &function, const std::string &text)
{
    return "\033[1;33m[K] ubootenv/kel_ubootenv|" + function + "|N: " + text + "\n\033[m";
}

inline std::string error(const std::string &function, const std::string &text)
{
    return "\033[0;31m[K] ERROR|ubootenv/kel_ubootenv|" + function + "|N: " + text +
           "\n\033[m";
}

inline block default_block()
{
    std::size_t size;
    const char *data = uenv_host_default_environment(&size);
    return make_block(std::string(data, size));
}

inline block flash_block()
{
    block b;
    std::memcpy(b.data(), hk::flash().data() + UENV_HOST_FLASH_OFFSET, b.size());
    return b;
}

inline void put_flash_block(const block &b)
{
    std::memcpy(hk::flash().data() + UENV_HOST_FLASH_OFFSET, b.data(), b.size());
}

inline block g_env()
{
    block b;
    std::memcpy(b.data(), uenv_host_g_env(), b.size());
    return b;
}

// Every test starts on a freshly booted kernel with an erased flash.
class KernelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        hk::reset();
        std::memset(uenv_host_g_env(), 0, UENV_HOST_BLOCK_SIZE);
    }
};

// A manager holding the entries parsed from a block.
class StoreTest : public KernelTest {
protected:
    uboot_env_manager *m = nullptr;

    void load(const block &b)
    {
        block copy = b;
        m = uenv_host_manager_new();
        ASSERT_EQ(0, uenv_host_parse(m, copy.data()));
    }
    void load(const entries &env) { load(make_block(strings(env))); }

    entries list() const
    {
        entries env;
        for (std::uint32_t i = 0; i < uenv_host_count(m); i++)
            env.emplace_back(uenv_host_key(m, i), uenv_host_value(m, i));
        EXPECT_EQ(env.size(), uenv_host_length(m)) << "count and list disagree";
        return env;
    }

    void TearDown() override
    {
        if (m)
            uenv_host_manager_delete(m);
        EXPECT_EQ(0u, hk::live_allocations()) << "leaked";
    }
};

// A piece of memory that the driver may reach as user memory.
template <typename T> class user_memory {
public:
    T value{};

    user_memory() { hk::map_user(&value, sizeof(T)); }
    // mapped < sizeof(T): the bytes after it fault.
    explicit user_memory(const T &initial, std::size_t mapped = sizeof(T)) : value(initial)
    {
        hk::map_user(&value, mapped);
    }
    ~user_memory() { hk::unmap_user(&value); }
    user_memory(const user_memory &) = delete;
    user_memory &operator=(const user_memory &) = delete;

    unsigned long arg() const { return reinterpret_cast<unsigned long>(&value); }
};

// The module loaded and bound to a flash holding `initial`, /dev/env open.
class BoundDriver : public KernelTest {
protected:
    file *env = nullptr;

    void SetUp() override
    {
        KernelTest::SetUp();
        put_flash_block(initial_flash());
        ASSERT_EQ(0, init_module());
        ASSERT_TRUE(hk::bound(uenv_host_device())) << hk::log();
        ASSERT_EQ(0, hk::open("env", &env));
        hk::clear_log();
        hk::clear_board_calls();
    }

    void TearDown() override
    {
        if (env) {
            EXPECT_EQ(0, hk::close(env));
        }
        cleanup_module();
        EXPECT_EQ(0, hk::module_refcount());
        EXPECT_EQ(0u, hk::live_allocations()) << "leaked";
    }

    virtual block initial_flash()
    {
        return make_block(strings({{"bootargs", "mem=42M console=ttyS0,115200n8"},
                                   {"bootcmd", "bootm"},
                                   {"serverip", "10.0.0.2"},
                                   {"ethaddr", "00:1c:27:4b:00:01"}}));
    }

    long ioctl(unsigned int cmd, unsigned long arg) { return hk::ioctl(env, cmd, arg); }

    int flash_writes()
    {
        int n = 0;
        for (const hk::board_call &call : hk::board_calls())
            n += call.kind == hk::board_call_kind::write;
        return n;
    }
};

} // namespace envtest

// The environment block: the boot tag, the choice between flash, boot
// loader copy and default, the parse and the serializer, on arbitrary
// flash and boot loader blocks.
//
// Checked: the boot tag fills g_env with its payload; the chosen block is
// valid and is the first valid one of the three; the parse leaves the block
// as it is, finds what the boot loader reads (up to the first empty string),
// keeps count and list in step and fails cleanly without memory;
// serializing the list gives the packed strings of every entry that fits
// and parses back to the same entries; nothing leaks.
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>


#include "env_oracle.h"
#include "fuzz_input.h"
#include "hostkernel.h"
#include "kel_ubootenv_host.h"

namespace {

constexpr std::size_t block_size = UENV_HOST_BLOCK_SIZE;
constexpr std::size_t data_size = block_size - 4;

using fuzz::entries;

// Blocks on the heap at their exact size, so that ASan sees any byte that
// the driver touches outside them.
using block_ptr = std::unique_ptr<std::uint8_t[]>;

block_ptr new_block(std::uint8_t fill)
{
    block_ptr b(new std::uint8_t[block_size]);
    std::memset(b.get(), fill, block_size);
    return b;
}

std::uint32_t zlib_crc(const std::uint8_t *b)
{
    return static_cast<std::uint32_t>(::crc32(0, b + 4, data_size));
}

std::uint32_t stored_crc(const std::uint8_t *b)
{
    return b[0] | b[1] << 8 | b[2] << 16 | std::uint32_t(b[3]) << 24;
}

bool valid(const std::uint8_t *b) { return zlib_crc(b) == stored_crc(b); }

void seal(std::uint8_t *b)
{
    std::uint32_t crc = zlib_crc(b);
    for (int i = 0; i < 4; i++)
        b[i] = static_cast<std::uint8_t>(crc >> (8 * i));
}

// Sealed: the bytes are the data area and the CRC is made to match;
// otherwise they are the block from its first byte, CRC word included.
block_ptr make_block(const std::vector<std::uint8_t> &bytes, bool sealed, std::uint8_t fill)
{
    block_ptr b = new_block(fill);
    std::size_t at = sealed ? 4 : 0;
    if (!bytes.empty())
        std::memcpy(b.get() + at, bytes.data(), std::min(bytes.size(), block_size - at));
    if (sealed)
        seal(b.get());
    return b;
}

block_ptr default_block()
{
    std::size_t size;
    const char *data = uenv_host_default_environment(&size);
    block_ptr b = new_block(0);
    std::memcpy(b.get() + 4, data, size);
    seal(b.get());
    return b;
}

entries list_of(uboot_env_manager *m)
{
    entries env;
    CHECK(uenv_host_count(m) == uenv_host_length(m));
    for (std::uint32_t i = 0; i < uenv_host_count(m); i++) {
        const char *key = uenv_host_key(m, i);
        const char *value = uenv_host_value(m, i);
        CHECK(key && value);
        CHECK(!std::strchr(key, '='));
        env.emplace_back(key, value);
    }
    return env;
}

// The boot loader's copy as the ARM kernel receives it: one tag of the
// payload's words, then the end tag. Returns what g_env must then hold.
std::vector<std::uint8_t> hand_over(const std::vector<std::uint8_t> &payload)
{
    std::size_t words = (payload.size() + 3) / 4;
    std::vector<std::uint32_t> tags(2 + words + 2, 0);
    tags[0] = static_cast<std::uint32_t>(2 + words);
    tags[1] = 0x564a05b2;
    if (!payload.empty())
        std::memcpy(&tags[2], payload.data(), payload.size());
    hk::parse_tags(reinterpret_cast<const tag *>(tags.data()));

    std::vector<std::uint8_t> expected(block_size, 0);
    std::memcpy(expected.data(), &tags[2], std::min(words * 4, block_size));
    return expected;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzz::reader in(data, size);
    const std::uint8_t flags = in.u8();
    const unsigned fail_nth = flags >> fuzz::codec_fail_shift;
    std::vector<std::uint8_t> flash_bytes = in.take(in.u16());
    std::vector<std::uint8_t> boot_bytes = in.take(block_size + 8);

    hk::reset();
    std::uint8_t *g_env = uenv_host_g_env();
    std::memset(g_env, 0, block_size);

    // The boot tag, as early boot delivers it.
    if (!(flags & fuzz::CODEC_NO_BOOT_TAG)) {
        if (flags & fuzz::CODEC_BOOT_SEALED) {
            block_ptr boot = make_block(boot_bytes, true, 0);
            boot_bytes.assign(boot.get(), boot.get() + block_size);
        }
        std::vector<std::uint8_t> expected = hand_over(boot_bytes);
        CHECK(!std::memcmp(g_env, expected.data(), block_size));
    }

    // The choice: the first valid block of flash, boot loader, default.
    block_ptr flash = make_block(flash_bytes, flags & fuzz::CODEC_FLASH_SEALED,
                                 flags & fuzz::CODEC_FLASH_ERASED ? 0xff : 0);
    block_ptr boot = new_block(0);
    std::memcpy(boot.get(), g_env, block_size);
    block_ptr work = new_block(0);
    std::memcpy(work.get(), flash.get(), block_size);
    uenv_host_select(work.get(), boot.get());
    CHECK(valid(work.get()));
    block_ptr fallback = default_block();
    const std::uint8_t *chosen = valid(flash.get())  ? flash.get()
                                 : valid(boot.get()) ? boot.get()
                                                     : fallback.get();
    CHECK(!std::memcmp(work.get(), chosen, block_size));
    CHECK(!std::memcmp(boot.get(), g_env, block_size));

    // The parse reads the block and leaves it as it is.
    block_ptr before = new_block(0);
    std::memcpy(before.get(), work.get(), block_size);
    uboot_env_manager *m = uenv_host_manager_new();
    CHECK(m);
    if (fail_nth)
        hk::fail_allocation(fail_nth);
    int ret = uenv_host_parse(m, work.get());
    hk::fail_allocation(0);
    CHECK(ret == 0 || (fail_nth && ret == -ENOMEM));
    CHECK(!std::memcmp(work.get(), before.get(), block_size));
    if (ret) {
        CHECK(uenv_host_length(m) == 0);
        uenv_host_manager_delete(m);
        CHECK(hk::live_allocations() == 0);
        return 0;
    }
    entries parsed = list_of(m);
    CHECK(parsed == fuzz::live_entries(work.get(), block_size));

    // Serialize: the strings of the entries that fit, packed, zero after.
    block_ptr out = new_block(0);
    uenv_host_serialize(m, out.get());
    CHECK(valid(out.get()));
    std::string packed;
    std::size_t fitting = 0;
    for (const auto &[key, value] : parsed) {
        std::string s = key + "=" + value + '\0';
        if (packed.size() + s.size() > data_size)
            break;
        packed += s;
        fitting++;
    }
    CHECK(!std::memcmp(out.get() + 4, packed.data(), packed.size()));
    for (std::size_t i = 4 + packed.size(); i < block_size; i++)
        CHECK(out[i] == 0);

    // ... and parses back to the same entries.
    uboot_env_manager *again = uenv_host_manager_new();
    CHECK(again);
    CHECK(uenv_host_parse(again, out.get()) == 0);
    entries reparsed = list_of(again);
    CHECK(reparsed.size() == fitting);
    CHECK(std::equal(reparsed.begin(), reparsed.end(), parsed.begin()));

    // Releasing twice is harmless; nothing stays allocated.
    CHECK(uenv_host_free_list(m) == 0);
    CHECK(uenv_host_free_list(m) == 0);
    CHECK(uenv_host_length(m) == 0);
    uenv_host_manager_delete(m);
    uenv_host_manager_delete(again);
    CHECK(hk::live_allocations() == 0);
    return 0;
}

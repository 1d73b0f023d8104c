// The console setting rewriter on arbitrary "bootargs" values and
// configurations, valid or not.
//
// Checked: a failure leaves the whole record as it was; a success keeps
// the key and everything up to the first "tty", writes the configured
// console spec after it, follows it with the old value's remainder from
// some point on (zero-filled), and never writes outside the 256-byte
// field (the record sits alone on the heap, so ASan sees any byte past
// it). Rewriting again with the same configuration changes nothing.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_input.h"
#include "hostkernel.h"
#include "kel_ubootenv_host.h"

namespace {

constexpr std::uint32_t speeds[] = {300,   600,   1200,  2400,  4800, 9600,
                                    19200, 38400, 57600, 76800, 115200};

bool config_valid(const uboot_serial_config &c)
{
    bool speed = false;
    for (std::uint32_t s : speeds)
        speed |= c.baud == s;
    return c.mode <= 1 && c.data_bits >= 5 && c.data_bits <= 8 && c.parity <= 2 &&
           c.flow <= 2 && c.port <= 3 && speed;
}

void fold_valid(uboot_serial_config &c)
{
    c.mode &= 1;
    c.baud = speeds[c.baud % (sizeof(speeds) / sizeof(speeds[0]))];
    c.data_bits = static_cast<std::uint8_t>(5 + c.data_bits % 4);
    c.parity %= 3;
    c.flow %= 3;
    c.port %= 4;
}

// The console spec that follows "tty" for a configuration.
std::string spec_for(const uboot_serial_config &c)
{
    char text[32];
    if (c.mode == UENV_SERIAL_MODE_TTY)
        std::snprintf(text, sizeof(text), "%u", unsigned(c.port));
    else
        std::snprintf(text, sizeof(text), "S%u,%u%c%u%s", unsigned(c.port), unsigned(c.baud),
                      "noe"[c.parity], unsigned(c.data_bits), c.flow == 2 ? "r" : "");
    return text;
}

// Offset of the first "tty" in the value's text, or -1.
int first_tty(const char *value)
{
    std::size_t len = strnlen(value, UENV_VALUE_LEN);
    for (std::size_t i = 0; i + 3 <= len; i++) {
        if (!std::memcmp(value + i, "tty", 3))
            return static_cast<int>(i);
    }
    return -1;
}

// after[from..256) is the old value from some offset t > tty + 3 on,
// padded with zeros.
bool tail_of(const char *before, const char *after, std::size_t from, std::size_t tty)
{
    for (std::size_t t = tty + 4; t <= UENV_VALUE_LEN; t++) {
        bool same = true;
        for (std::size_t i = from; same && i < UENV_VALUE_LEN; i++) {
            std::size_t j = t + (i - from);
            same = after[i] == (j < UENV_VALUE_LEN ? before[j] : 0);
        }
        if (same)
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzz::reader in(data, size);
    const std::uint8_t flags = in.u8();
    auto cfg = std::make_unique<uboot_serial_config>();
    in.bytes(cfg.get(), sizeof(*cfg));
    if (flags & fuzz::REWRITER_VALID_CONFIG)
        fold_valid(*cfg);

    auto rec = std::make_unique<uboot_env_record>();
    std::memset(rec->key, 0xa5, sizeof(rec->key));
    std::memcpy(rec->key, "bootargs", 9);
    std::memset(rec->value, flags & fuzz::REWRITER_FILL_FIELD ? 'x' : 0, sizeof(rec->value));
    in.bytes(rec->value, sizeof(rec->value));
    const uboot_env_record before = *rec;

    hk::reset();
    const bool no_memory = flags & fuzz::REWRITER_NO_MEMORY;
    if (no_memory)
        hk::fail_allocation(1);
    const bool null_rec = flags & fuzz::REWRITER_NULL_RECORD;
    const bool null_cfg = flags & fuzz::REWRITER_NULL_CONFIG;
    int ret = uenv_host_uart_set(null_rec ? nullptr : rec.get(), null_cfg ? nullptr : cfg.get());
    hk::fail_allocation(0);
    CHECK(hk::live_allocations() == 0);

    CHECK(ret == 0 || ret == -EINVAL || ret == -ENOMEM);
    int tty = first_tty(before.value);
    if (null_rec || null_cfg || !config_valid(*cfg))
        CHECK(ret == -EINVAL);
    else if (no_memory)
        CHECK(ret == -ENOMEM);
    else if (tty < 0)
        CHECK(ret == -EINVAL);
    if (ret) {
        CHECK(!std::memcmp(&before, rec.get(), sizeof(before)));
        return 0;
    }

    CHECK(!std::memcmp(before.key, rec->key, sizeof(before.key)));
    std::size_t p = static_cast<std::size_t>(tty);
    CHECK(!std::memcmp(before.value, rec->value, p + 3));
    std::string spec = spec_for(*cfg);
    std::size_t end = p + 3 + spec.size();
    CHECK(end <= UENV_VALUE_LEN);
    CHECK(!std::memcmp(rec->value + p + 3, spec.data(), spec.size()));
    CHECK(tail_of(before.value, rec->value, end, p));

    // The new spec is recognised as a whole. A tail that begins with 'r'
    // after a spec without flow control is taken as its flow letter, so
    // that one case changes again.
    if (cfg->mode == UENV_SERIAL_MODE_TTY || cfg->flow == 2 || end == UENV_VALUE_LEN ||
        rec->value[end] != 'r') {
        const uboot_env_record once = *rec;
        CHECK(uenv_host_uart_set(rec.get(), cfg.get()) == 0);
        CHECK(!std::memcmp(&once, rec.get(), sizeof(once)));
    }
    CHECK(hk::live_allocations() == 0);
    return 0;
}

// /dev/env and /proc/driver/uenv with the module loaded over the kernel
// stand-in: arbitrary command words, records and proc command lines in
// arbitrary user-memory layouts, mixed with opens, closes, unbinds and
// rebinds, failing allocations and a failing flash.
//
// Checked after every operation: the result is the one the command word,
// the mapping and the state allow (-EFAULT exactly when a needed range is
// not user memory, -EINVAL for a foreign type, -ENODEV on a file whose
// device has gone); whole values, the whole list and the outcome of a
// change set are the ones an independent model gives (env_oracle.h); the
// driver writes nothing outside what the command returns, and a failed
// command hands back only why and changes nothing; the entry count, the
// list, g_env and flash agree; the proc look-up never names a removed
// manager.
// A semaphore left taken shows up as a hang (libFuzzer's -timeout). After
// the input: every file closed, the module unloaded, nothing leaked.
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <zlib.h>

#include "env_oracle.h"
#include "fuzz_input.h"
#include "hostkernel.h"
#include "kel_ubootenv_host.h"

namespace {

constexpr std::size_t block_size = UENV_HOST_BLOCK_SIZE;
constexpr std::size_t max_files = 8;
constexpr unsigned proc_cmd_max = 63;

struct range {
    std::uintptr_t start, end;
};

// A buffer on the heap at its exact size (ASan watches its edges), the
// parts of it registered as user memory, and the argument handed over.
class user_buffer {
public:
    explicit user_buffer(fuzz::reader &in)
    {
        size_ = in.u16() % (fuzz::max_user_size + 1);
        const std::uint8_t layout = in.u8() % fuzz::USER_LAYOUTS;
        std::size_t a = in.u16(), b = in.u16();
        bytes_.reset(new std::uint8_t[size_ ? size_ : 1]());
        in.bytes(bytes_.get(), size_);

        auto base = reinterpret_cast<std::uintptr_t>(bytes_.get());
        arg_ = base;
        a %= size_ + 1;
        switch (layout) {
        case fuzz::USER_MAPPED:
            map(0, size_);
            break;
        case fuzz::USER_HEAD_MAPPED:
            map(0, a);
            break;
        case fuzz::USER_TAIL_MAPPED:
            map(a, size_);
            break;
        case fuzz::USER_UNMAPPED:
            break;
        case fuzz::USER_HOLE:
            map(0, a);
            map(a + b % (size_ - a + 1), size_);
            break;
        case fuzz::USER_NULL:
            arg_ = 0;
            break;
        case fuzz::USER_TOP:
            arg_ = hk::user_space_end - a;
            break;
        case fuzz::USER_WRAP:
            arg_ = ~std::uintptr_t(0) - a;
            break;
        }
        before_.assign(bytes_.get(), bytes_.get() + size_);
    }
    ~user_buffer()
    {
        for (const range &r : mapped_)
            hk::unmap_user(reinterpret_cast<const void *>(r.start));
    }
    user_buffer(const user_buffer &) = delete;
    user_buffer &operator=(const user_buffer &) = delete;

    unsigned long arg() const { return arg_; }
    const std::uint8_t *bytes() const { return bytes_.get(); }
    // What the buffer held before the driver saw it, when it holds a T.
    template <typename T> bool sent(T *out) const
    {
        if (arg_ != reinterpret_cast<std::uintptr_t>(bytes_.get()) || size_ < sizeof(T))
            return false;
        std::memcpy(out, before_.data(), sizeof(T));
        return true;
    }

    // Whether every byte of [arg, arg + n) is user memory.
    bool user(std::size_t n) const
    {
        if (n == 0)
            return true;
        if (arg_ + n < arg_ || arg_ + n > hk::user_space_end)
            return false;
        std::uintptr_t at = arg_;
        for (bool advanced = true; advanced && at < arg_ + n;) {
            advanced = false;
            for (const range &r : mapped_) {
                if (at >= r.start && at < r.end) {
                    at = r.end;
                    advanced = true;
                }
            }
        }
        return at >= arg_ + n;
    }

    // Whether the bytes from offset `from` on are as they were handed over.
    bool unchanged_from(std::size_t from) const { return unchanged_range(from, size_); }
    bool unchanged_range(std::size_t from, std::size_t to) const
    {
        to = std::min(to, size_);
        return from >= to ||
               !std::memcmp(bytes_.get() + from, before_.data() + from, to - from);
    }

private:
    void map(std::size_t from, std::size_t to)
    {
        auto base = reinterpret_cast<std::uintptr_t>(bytes_.get());
        hk::map_user(bytes_.get() + from, to - from);
        mapped_.push_back({base + from, base + to});
    }

    std::size_t size_ = 0;
    std::unique_ptr<std::uint8_t[]> bytes_;
    std::vector<std::uint8_t> before_;
    std::vector<range> mapped_;
    std::uintptr_t arg_ = 0;
};

struct open_file {
    file *f;
    unsigned generation; // the bound instance it was opened on
};

struct session {
    std::vector<open_file> files;
    unsigned generation = 0; // changes whenever the device loses its driver
    bool flash_unreliable = false;
    bool allocations_fail = false;

    bool live(const open_file &of) const
    {
        return hk::bound(uenv_host_device()) && of.generation == generation;
    }
};

// The value of the first entry with exactly this key, or null.
const char *value_for(uboot_env_manager *m, const char *key)
{
    if (!m)
        return nullptr;
    for (std::uint32_t i = 0; i < uenv_host_count(m); i++) {
        if (!std::strcmp(uenv_host_key(m, i), key))
            return uenv_host_value(m, i);
    }
    return nullptr;
}

bool permitted(const char *key)
{
    static const char *const keys[] = {"serverip", "bootargs", "device_type",
                                       "identification", "update_ip"};
    for (const char *k : keys) {
        if (!std::strcmp(key, k))
            return true;
    }
    return false;
}

fuzz::entries list_of(uboot_env_manager *m)
{
    fuzz::entries env;
    for (std::uint32_t i = 0; i < uenv_host_count(m); i++)
        env.emplace_back(uenv_host_key(m, i), uenv_host_value(m, i));
    return env;
}

bool valid_block(const std::uint8_t *b)
{
    std::uint32_t crc = static_cast<std::uint32_t>(::crc32(0, b + 4, block_size - 4));
    return crc == (b[0] | b[1] << 8 | b[2] << 16 | std::uint32_t(b[3]) << 24);
}

// Allocates nothing: an armed allocation failure is the driver's to meet.
// g_env and flash hold the list's environment as the boot loader reads
// it, whatever other bytes they hold after its end; flash lags behind only
// after a failed write, or when the probe could not rewrite an invalid one.
void check_consistent(const session &s)
{
    uboot_env_manager *m = uenv_host_bound_manager();
    uboot_env_manager *uhandle = uenv_host_uhandle();
    CHECK(!uhandle || uhandle == m);
    if (!m)
        return;
    CHECK(uenv_host_count(m) == uenv_host_length(m));

    const fuzz::entries list = list_of(m);
    const std::uint8_t *g_env = uenv_host_g_env();
    CHECK(valid_block(g_env));
    CHECK(fuzz::live_entries(g_env, block_size) == list);
    const std::uint8_t *flash = hk::flash().data() + UENV_HOST_FLASH_OFFSET;
    if (!s.flash_unreliable && (valid_block(flash) || !s.allocations_fail))
        CHECK(valid_block(flash) && fuzz::live_entries(flash, block_size) == list);
}

// Commands 6 to 8: a fixed record, then the caller's buffer.
template <typename Record> bool sent_record(const user_buffer &buf, Record *rec)
{
    return buf.user(sizeof(Record)) && buf.sent(rec);
}

// Returns the bytes UENV_IOC_GET_VALUE may have written.
std::size_t check_get_value(const user_buffer &buf, uboot_env_manager *m, long ret)
{
    uboot_env_value_record rec{};
    if (!sent_record(buf, &rec)) {
        CHECK(ret == -EFAULT);
        return 0;
    }
    if (!memchr(rec.key, '\0', sizeof(rec.key))) {
        CHECK(ret == -EINVAL);
        return 0;
    }
    const char *value = value_for(m, rec.key);
    if (!value) {
        CHECK(ret == -ENOENT);
        return 0;
    }
    const std::size_t need = std::strlen(value) + 1;
    const std::size_t record = sizeof(rec);
    if (need > rec.size) {
        CHECK(ret == -ERANGE && buf.unchanged_from(record));
    } else if (!buf.user(record + need)) {
        CHECK(ret == -EFAULT);
        return record + need;
    } else {
        CHECK(ret == 0 && !std::memcmp(buf.bytes() + record, value, need));
    }
    std::uint32_t size;
    std::memcpy(&size, buf.bytes() + offsetof(uboot_env_value_record, size), sizeof(size));
    CHECK(size == need && buf.unchanged_range(0, offsetof(uboot_env_value_record, size)));
    return record + need;
}

// Returns the bytes UENV_IOC_LIST may have written.
std::size_t check_list(const session &s, const user_buffer &buf, const fuzz::entries &env,
                       long ret)
{
    uboot_env_list_record rec{};
    if (!sent_record(buf, &rec)) {
        CHECK(ret == -EFAULT);
        return 0;
    }
    std::string strings;
    for (const auto &[key, value] : env)
        strings += key + "=" + value + '\0';
    const std::size_t record = sizeof(rec);
    if (strings.size() > rec.size) {
        CHECK(ret == -ERANGE && buf.unchanged_from(record));
    } else if (s.allocations_fail && ret == -ENOMEM) {
        return 0;
    } else if (!buf.user(record + strings.size())) {
        CHECK(ret == -EFAULT);
        return record + strings.size();
    } else {
        CHECK(ret == 0 && !std::memcmp(buf.bytes() + record, strings.data(), strings.size()));
    }
    uboot_env_list_record out;
    std::memcpy(&out, buf.bytes(), sizeof(out));
    CHECK(out.size == strings.size() && out.count == env.size());
    return record + strings.size();
}

// Whether UENV_IOC_CHANGE refused the set (and so wrote `refused`).
bool check_change(const session &s, const user_buffer &buf, const fuzz::entries &before,
                  uboot_env_manager *m, long ret)
{
    uboot_env_change_record rec{};
    if (!sent_record(buf, &rec)) {
        CHECK(ret == -EFAULT);
        return false;
    }
    if (rec.size > UENV_CHANGES_MAX) {
        CHECK(ret == -E2BIG);
        return false;
    }
    if (s.allocations_fail && ret == -ENOMEM)
        return false;
    if (!buf.user(sizeof(rec) + rec.size)) {
        CHECK(ret == -EFAULT);
        return false;
    }
    const std::string changes(reinterpret_cast<const char *>(buf.bytes()) + sizeof(rec), rec.size);
    const fuzz::change_outcome expected = fuzz::apply_changes(
        before, changes, [](const std::string &key) { return permitted(key.c_str()); });
    if (expected.error) {
        uboot_env_change_record out;
        std::memcpy(&out, buf.bytes(), sizeof(out));
        CHECK(ret == expected.error && out.size == rec.size && out.refused == expected.refused);
        return true;
    }
    if (ret == 0)
        CHECK(list_of(m) == expected.env);
    else
        CHECK((s.allocations_fail && ret == -ENOMEM) || (s.flash_unreliable && ret == -EIO));
    return false;
}

void do_ioctl(session &s, fuzz::reader &in)
{
    const std::uint8_t which = in.u8();
    const std::uint32_t cmd = in.u32();
    user_buffer buf(in);
    if (s.files.empty())
        return;
    const open_file &of = s.files[which % s.files.size()];
    uboot_env_manager *m = uenv_host_bound_manager();
    const std::uint32_t count = m ? uenv_host_count(m) : 0;
    std::uint32_t index = 0;
    if (buf.user(4))
        std::memcpy(&index, buf.bytes(), 4);
    // The record as sent, with its key as a string when it has a NUL.
    uboot_env_record rec{};
    const bool has_record = buf.sent(&rec) && strnlen(rec.key, UENV_KEY_LEN) < UENV_KEY_LEN;
    const char *old_value = has_record ? value_for(m, rec.key) : nullptr;
    const std::string old_copy = old_value ? old_value : "";
    const fuzz::entries before = m ? list_of(m) : fuzz::entries{};

    long ret = hk::ioctl(of.f, cmd, buf.arg());

    std::size_t returned = 0; // bytes the command may write back
    bool says_why = false;    // a failure that hands back its reason
    if ((cmd >> 8 & 0xff) != 'E') {
        CHECK(ret == -EINVAL);
    } else if (!s.live(of)) {
        CHECK(ret == -ENODEV);
    } else {
        switch (cmd & 0xff) {
        case 1: // get
            CHECK(buf.user(sizeof(uboot_env_record)) ? ret == 0 || ret == -ENOENT
                                                     : ret == -EFAULT);
            if (has_record && ret != -EFAULT)
                CHECK((ret == 0) == (old_value != nullptr));
            if (has_record && ret == 0) {
                // The key as sent, the value's first bytes as stored.
                std::size_t n = std::min(old_copy.size() + 1, std::size_t(UENV_VALUE_LEN));
                CHECK(!std::memcmp(buf.bytes() + UENV_KEY_LEN, old_copy.c_str(), n));
                CHECK(buf.unchanged_from(UENV_KEY_LEN + n) && buf.unchanged_range(0, UENV_KEY_LEN));
            }
            returned = sizeof(uboot_env_record);
            break;
        case 2: // set
            CHECK(buf.user(sizeof(uboot_env_record)) ? ret != -EFAULT : ret == -EFAULT);
            CHECK(ret == 0 || ret == -EPERM || ret == -ENOSPC || ret == -EFAULT ||
                  (s.allocations_fail && ret == -ENOMEM) || (s.flash_unreliable && ret == -EIO));
            if (buf.user(sizeof(uboot_env_record)) && buf.sent(&rec))
                CHECK((ret == -EPERM) == !(has_record && permitted(rec.key)));
            if (has_record && ret == 0) {
                std::string value(rec.value, strnlen(rec.value, UENV_VALUE_LEN));
                const char *now = value_for(m, rec.key);
                if (!value.empty()) {
                    CHECK(now && value == now);
                } else if (old_value) {
                    CHECK(uenv_host_count(m) == count - 1);
                } else {
                    CHECK(uenv_host_count(m) == count + 1 && now && !*now);
                }
            }
            break;
        case 3: // count
            CHECK(buf.user(4) ? ret == 0 : ret == -EFAULT);
            if (ret == 0)
                CHECK(!std::memcmp(buf.bytes(), &count, 4));
            returned = 4;
            break;
        case 4: // key at
            if (!buf.user(4))
                CHECK(ret == -EFAULT);
            else if (index >= count)
                CHECK(ret == -ENOENT);
            else
                CHECK(buf.user(sizeof(uboot_env_index_record)) ? ret == 0 : ret == -EFAULT);
            if (ret == 0) {
                const char *key = uenv_host_key(m, index);
                std::size_t n = std::min(std::strlen(key) + 1, std::size_t(UENV_KEY_LEN));
                CHECK(!std::memcmp(buf.bytes(), &index, 4));
                CHECK(!std::memcmp(buf.bytes() + 4, key, n));
                for (std::size_t i = 4 + n; i < sizeof(uboot_env_index_record); i++)
                    CHECK(buf.bytes()[i] == 0);
            }
            returned = sizeof(uboot_env_index_record);
            break;
        case 5: // serial console
            CHECK(buf.user(sizeof(uboot_serial_config)) ? ret != -EFAULT : ret == -EFAULT);
            CHECK(ret == 0 || ret == -EINVAL || ret == -ENOENT || ret == -ENOSPC ||
                  ret == -EFAULT || (s.allocations_fail && ret == -ENOMEM) ||
                  (s.flash_unreliable && ret == -EIO));
            break;
        case 6: // whole value
            returned = check_get_value(buf, m, ret);
            says_why = ret == -ERANGE;
            break;
        case 7: // change set
            says_why = check_change(s, buf, before, m, ret);
            returned = says_why ? sizeof(uboot_env_change_record) : 0;
            break;
        case 8: // whole list
            returned = check_list(s, buf, before, ret);
            says_why = ret == -ERANGE;
            break;
        default: // logged, and an error rather than a false success
            CHECK(ret == -ENOTTY);
            break;
        }
    }
    // A failed command changes nothing and hands nothing back, except what
    // a faulting copy out managed before the fault and the reason a
    // refusal gives.
    if (ret && m)
        CHECK(list_of(m) == before);
    CHECK(buf.unchanged_from(ret == 0 || ret == -EFAULT || says_why ? returned : 0));
}

void do_proc_write(session &s, fuzz::reader &in)
{
    const std::uint8_t len = in.u8();
    user_buffer buf(in);
    const bool exists = hk::bound(uenv_host_device());
    int ret = hk::proc_write("driver/uenv", reinterpret_cast<const void *>(buf.arg()), len);
    if (!exists)
        CHECK(ret == -ENOENT);
    else if (len > proc_cmd_max || !buf.user(len))
        CHECK(ret == -EFAULT);
    else
        CHECK(ret == len);
    CHECK(buf.unchanged_from(0));
    (void)s;
}

void do_open(session &s)
{
    file *f = nullptr;
    int ret = hk::open("env", &f);
    if (!hk::bound(uenv_host_device())) {
        CHECK(ret == -ENODEV);
        return;
    }
    CHECK(ret == 0);
    if (s.files.size() < max_files)
        s.files.push_back({f, s.generation});
    else
        CHECK(hk::close(f) == 0);
}

void do_close(session &s, std::uint8_t which)
{
    if (s.files.empty())
        return;
    auto it = s.files.begin() + which % s.files.size();
    CHECK(hk::close(it->f) == 0);
    s.files.erase(it);
}

void do_file_calls(session &s, std::uint8_t which)
{
    if (s.files.empty())
        return;
    file *f = s.files[which % s.files.size()].f;
    char byte = 'x';
    CHECK(hk::read(f, &byte, 1) == 0);
    CHECK(hk::write(f, &byte, 1) == -EINVAL); // a writer must not retry for ever
    CHECK(hk::poll(f) == 0);
}

void load_flash(fuzz::reader &in)
{
    const std::uint8_t kind = in.u8();
    std::string data;
    switch (kind % fuzz::FLASH_KINDS) {
    case fuzz::FLASH_ERASED:
        return;
    case fuzz::FLASH_SMALL:
    case fuzz::FLASH_NEAR_FULL:
        data = std::string("bootargs=mem=42M console=ttyS0,115200n8") + '\0' +
               "bootcmd=bootm" + '\0' + "serverip=10.0.0.2" + '\0' +
               "ethaddr=00:1c:27:4b:00:01" + '\0';
        if (kind % fuzz::FLASH_KINDS == fuzz::FLASH_NEAR_FULL)
            data += "filler=" + std::string(block_size - 4 - data.size() - 8 - 300, 'f') + '\0';
        break;
    case fuzz::FLASH_FROM_INPUT: {
        std::vector<std::uint8_t> bytes = in.take(std::min<std::size_t>(in.u16(), block_size - 4));
        data.assign(bytes.begin(), bytes.end());
        break;
    }
    }
    std::uint8_t *block = hk::flash().data() + UENV_HOST_FLASH_OFFSET;
    std::memset(block, 0, block_size);
    std::memcpy(block + 4, data.data(), data.size());
    std::uint32_t crc = static_cast<std::uint32_t>(::crc32(0, block + 4, block_size - 4));
    for (int i = 0; i < 4; i++)
        block[i] = static_cast<std::uint8_t>(crc >> (8 * i));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    fuzz::reader in(data, size);
    hk::reset();
    std::memset(uenv_host_g_env(), 0, block_size);
    load_flash(in);
    // A probe that fails (flash unreadable, no memory) leaves the module
    // loaded without a bound device.
    CHECK(init_module() == 0);

    session s;
    do_open(s);
    check_consistent(s);
    while (!in.empty()) {
        switch (in.u8() % fuzz::OP_COUNT) {
        case fuzz::OP_IOCTL:
            do_ioctl(s, in);
            break;
        case fuzz::OP_PROC_WRITE:
            do_proc_write(s, in);
            break;
        case fuzz::OP_OPEN:
            do_open(s);
            break;
        case fuzz::OP_CLOSE:
            do_close(s, in.u8());
            break;
        case fuzz::OP_UNBIND:
            hk::unbind(uenv_host_device());
            s.generation++;
            break;
        case fuzz::OP_BIND:
            if (hk::bind(uenv_host_device()) == 0)
                s.generation++;
            break;
        case fuzz::OP_FAIL_ALLOC:
            hk::fail_allocation(1 + in.u8() % 16);
            s.allocations_fail = true;
            break;
        case fuzz::OP_FAIL_FLASH:
            if (in.u8() & 1) {
                hk::fail_flash_read(1, -EIO);
            } else {
                hk::fail_flash_write(1, -EIO);
                s.flash_unreliable = true;
            }
            break;
        case fuzz::OP_FILE_CALLS:
            do_file_calls(s, in.u8());
            break;
        }
        check_consistent(s);
    }

    hk::fail_allocation(0);
    for (const open_file &of : s.files)
        CHECK(hk::close(of.f) == 0);
    cleanup_module();
    CHECK(hk::module_refcount() == 0);
    CHECK(hk::live_allocations() == 0);
    return 0;
}

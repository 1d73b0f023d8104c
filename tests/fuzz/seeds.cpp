// Writes the seed corpus: a few inputs per target, each a case worth
// starting from. The corpus in the repository is this program's output:
//   build-fuzz/tests/fuzz/fuzz_seeds tests/fuzz/corpus
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "control.h"
#include "fuzz_input.h"
#include "kel_ubootenv.h"

namespace {

using fuzz::writer;

std::string root;
int failures;

void save(const std::string &target, const std::string &name, const writer &w)
{
    std::string dir = root + "/" + target;
    mkdir(root.c_str(), 0755);
    mkdir(dir.c_str(), 0755);
    std::string path = dir + "/" + name;
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(w.data().data(), 1, w.data().size(), f) != w.data().size()) {
        std::perror(path.c_str());
        failures++;
    }
    if (f)
        std::fclose(f);
}

std::string strings(const std::vector<std::string> &kv)
{
    std::string data;
    for (const std::string &s : kv)
        data += s + '\0';
    return data;
}

// ---- codec ----

writer codec(unsigned flags, const std::string &flash, const std::string &boot)
{
    writer w;
    w.u8(flags).u16(static_cast<unsigned>(flash.size())).text(flash).text(boot);
    return w;
}

void codec_seeds()
{
    const std::string env = strings({"bootargs=mem=42M console=ttyS0,115200", "bootcmd=bootm",
                                     "serverip=10.0.0.2"});
    save("codec", "erased-flash-no-tag", codec(fuzz::CODEC_FLASH_ERASED | fuzz::CODEC_NO_BOOT_TAG,
                                               "", ""));
    save("codec", "valid-flash", codec(fuzz::CODEC_FLASH_SEALED, env, ""));
    save("codec", "boot-loader-copy",
         codec(fuzz::CODEC_BOOT_SEALED, "garbage", strings({"from=uboot", "a=b=c"})));
    save("codec", "odd-strings",
         codec(fuzz::CODEC_FLASH_SEALED,
               std::string("a=1\0\0\0b=2\0=x\0k=\0noequals\0a=again\0", 33), ""));
    std::string full = "fill=" + std::string(4092 - 6, 'f') + '\0';
    save("codec", "exactly-full", codec(fuzz::CODEC_FLASH_SEALED, full, ""));
    save("codec", "no-nul-at-end",
         codec(fuzz::CODEC_FLASH_SEALED, "k=" + std::string(4090, 'v'), ""));
    save("codec", "equals-last",
         codec(fuzz::CODEC_FLASH_SEALED, std::string(4091, '\0') + "=", ""));
    save("codec", "no-memory", codec(fuzz::CODEC_FLASH_SEALED | 3 << fuzz::codec_fail_shift,
                                     env, ""));
    save("codec", "short-tag", codec(0, "", "12345678"));
}

// ---- console rewriter ----

writer rewriter(unsigned flags, uboot_serial_config cfg, const std::string &value)
{
    writer w;
    w.u8(flags).bytes(&cfg, sizeof(cfg)).text(value);
    return w;
}

uboot_serial_config serial(std::uint32_t baud, unsigned bits, unsigned parity, unsigned flow,
                           unsigned port, std::uint32_t mode = UENV_SERIAL_MODE_SERIAL)
{
    uboot_serial_config cfg{};
    cfg.mode = mode;
    cfg.baud = baud;
    cfg.data_bits = static_cast<std::uint8_t>(bits);
    cfg.parity = static_cast<std::uint8_t>(parity);
    cfg.flow = static_cast<std::uint8_t>(flow);
    cfg.port = static_cast<std::uint8_t>(port);
    return cfg;
}

void rewriter_seeds()
{
    const uboot_serial_config board = serial(115200, 8, 0, 0, 0);
    save("rewriter", "default-console", rewriter(0, board, "mem=42M console=ttyS0,115200"));
    save("rewriter", "flow-control",
         rewriter(0, serial(9600, 7, 2, 2, 1), "mem=42M console=ttyS0,115200n8 rw"));
    save("rewriter", "to-terminal",
         rewriter(0, serial(115200, 8, 0, 0, 3, UENV_SERIAL_MODE_TTY),
                  "mem=42M console=ttyS1,9600e7r"));
    save("rewriter", "terminal-two-digits", rewriter(0, board, "console=tty12 mem=42M"));
    save("rewriter", "words-before-speed", rewriter(0, board, "console=ttyS0, fast 38400 rw"));
    save("rewriter", "first-tty-elsewhere", rewriter(0, board, "x=ttyX console=ttyS0,115200"));
    save("rewriter", "bad-data-bits", rewriter(0, board, "console=ttyS0,115200n9"));
    save("rewriter", "no-room", rewriter(0, board, std::string(240, 'm') + " ttyS0,9600"));
    save("rewriter", "full-field",
         rewriter(fuzz::REWRITER_FILL_FIELD, board, "console=ttyS0,115200 "));
    save("rewriter", "invalid-config", rewriter(0, serial(0, 8, 0, 0, 0), "console=ttyS0,115200"));
    save("rewriter", "folded-config",
         rewriter(fuzz::REWRITER_VALID_CONFIG, serial(7, 200, 9, 9, 9, 5), "console=tty0"));
    save("rewriter", "no-memory", rewriter(fuzz::REWRITER_NO_MEMORY, board, "console=ttyS0,9600"));
    save("rewriter", "null-record", rewriter(fuzz::REWRITER_NULL_RECORD, board, "tty0"));
}

// ---- device ----

// A user buffer with the given contents, padded with zeros to its size.
writer &user(writer &w, std::size_t size, unsigned layout, unsigned a, unsigned b,
             const void *contents, std::size_t len)
{
    w.u16(static_cast<unsigned>(size)).u8(layout).u16(a).u16(b);
    std::vector<std::uint8_t> bytes(size, 0);
    if (len && size)
        std::memcpy(bytes.data(), contents, len < size ? len : size);
    return w.bytes(bytes.data(), bytes.size());
}

writer &ioctl(writer &w, std::uint32_t cmd, const void *arg, std::size_t len,
              unsigned layout = fuzz::USER_MAPPED, unsigned a = 0, unsigned b = 0,
              unsigned file = 0)
{
    w.u8(fuzz::OP_IOCTL).u8(file).u32(cmd);
    return user(w, len, layout, a, b, arg, len);
}

writer &proc(writer &w, const std::string &text, unsigned layout = fuzz::USER_MAPPED,
             unsigned a = 0)
{
    w.u8(fuzz::OP_PROC_WRITE).u8(static_cast<unsigned>(text.size()));
    return user(w, text.size(), layout, a, 0, text.data(), text.size());
}

uboot_env_record record(const std::string &key, const std::string &value = "")
{
    uboot_env_record rec{};
    std::memcpy(rec.key, key.data(), key.size() < sizeof(rec.key) ? key.size() : sizeof(rec.key));
    std::memcpy(rec.value, value.data(),
                value.size() < sizeof(rec.value) ? value.size() : sizeof(rec.value));
    return rec;
}

writer &get(writer &w, const std::string &key)
{
    uboot_env_record rec = record(key);
    return ioctl(w, UENV_IOC_GET, &rec, sizeof(rec));
}

writer &set(writer &w, const std::string &key, const std::string &value)
{
    uboot_env_record rec = record(key, value);
    return ioctl(w, UENV_IOC_SET, &rec, sizeof(rec));
}

writer &key_at(writer &w, std::uint32_t index)
{
    uboot_env_index_record rec{};
    rec.index = index;
    return ioctl(w, UENV_IOC_KEY_AT, &rec, sizeof(rec));
}

writer &count(writer &w)
{
    std::uint32_t n = 0;
    return ioctl(w, UENV_IOC_COUNT, &n, sizeof(n));
}

// Commands 6 to 8: the record, then `buffer` in a buffer of `size` bytes.
template <typename Record>
writer &with_buffer(writer &w, std::uint32_t cmd, const Record &rec, const std::string &buffer,
                    std::size_t size, unsigned layout = fuzz::USER_MAPPED, unsigned a = 0)
{
    std::string bytes(reinterpret_cast<const char *>(&rec), sizeof(rec));
    bytes += buffer;
    bytes.resize(sizeof(rec) + size);
    return ioctl(w, cmd, bytes.data(), bytes.size(), layout, a);
}

writer &get_value(writer &w, const std::string &key, std::uint32_t size, std::size_t buffer_size)
{
    uboot_env_value_record rec{};
    std::memcpy(rec.key, key.data(), key.size() < sizeof(rec.key) ? key.size() : sizeof(rec.key));
    rec.size = size;
    return with_buffer(w, UENV_IOC_GET_VALUE, rec, "", buffer_size);
}

writer &list(writer &w, std::uint32_t size, unsigned layout = fuzz::USER_MAPPED, unsigned a = 0)
{
    uboot_env_list_record rec{size, 0};
    return with_buffer(w, UENV_IOC_LIST, rec, "", size, layout, a);
}

// A change set of key and value pairs; size may lie about their length.
writer &change(writer &w, const std::vector<std::string> &kv, long size = -1)
{
    std::string changes;
    for (const std::string &s : kv)
        changes += s + '\0';
    uboot_env_change_record rec{static_cast<std::uint32_t>(size < 0 ? changes.size() : size), 0};
    return with_buffer(w, UENV_IOC_CHANGE, rec, changes, changes.size());
}

writer &flash_from(writer &w, const std::string &data)
{
    return w.u8(fuzz::FLASH_FROM_INPUT).u16(static_cast<unsigned>(data.size())).text(data);
}

void device_seeds()
{
    {
        writer w;
        flash_from(w, strings({"bootargs=console=tty1", std::string(70, 'k') + "=long key",
                               "long=" + std::string(300, 'v'), "serverip=1", "serverip=2",
                               "=empty key", "empty="}));
        for (std::uint32_t i = 0; i < 8; i++)
            key_at(w, i);
        get(w, "long");
        get(w, "");
        get(w, std::string(70, 'k'));
        set(w, "serverip", "");
        set(w, "serverip", "3");
        proc(w, "g long");
        save("device", "odd-flash", w);
    }
    {
        writer w;
        flash_from(w, strings({"bootcmd=bootm"}));
        w.u8(fuzz::OP_OPEN).u8(fuzz::OP_BIND);
        proc(w, "d");
        count(w);
        save("device", "no-bootargs", w);
    }
    {
        writer w;
        w.u8(fuzz::FLASH_SMALL);
        count(w);
        for (std::uint32_t i = 0; i < 5; i++)
            key_at(w, i);
        get(w, "bootargs");
        get(w, "nosuch");
        save("device", "list-environment", w);
    }
    {
        writer w;
        w.u8(fuzz::FLASH_ERASED);
        set(w, "serverip", "10.0.0.3");
        set(w, "ethaddr", "02:00:00:00:00:02");
        set(w, "update_ip", "10.0.0.7");
        set(w, "serverip", "");
        set(w, "bootargs", std::string(256, 'b'));
        count(w);
        save("device", "set-and-delete", w);
    }
    {
        writer w;
        w.u8(fuzz::FLASH_SMALL);
        uboot_serial_config cfg = serial(9600, 7, 2, 2, 1);
        ioctl(w, UENV_IOC_SERIAL, &cfg, sizeof(cfg));
        cfg = serial(115200, 8, 0, 0, 3, UENV_SERIAL_MODE_TTY);
        ioctl(w, UENV_IOC_SERIAL, &cfg, sizeof(cfg));
        cfg = serial(12345, 8, 0, 0, 0);
        ioctl(w, UENV_IOC_SERIAL, &cfg, sizeof(cfg));
        set(w, "bootargs", "mem=42M");
        cfg = serial(115200, 8, 0, 0, 0);
        ioctl(w, UENV_IOC_SERIAL, &cfg, sizeof(cfg));
        save("device", "serial-console", w);
    }
    {
        writer w;
        w.u8(fuzz::FLASH_SMALL);
        uboot_env_record rec = record("bootargs");
        ioctl(w, UENV_IOC_GET, &rec, sizeof(rec), fuzz::USER_HEAD_MAPPED, 100);
        ioctl(w, UENV_IOC_GET, &rec, sizeof(rec), fuzz::USER_HOLE, 64, 8);
        rec = record("serverip", "10.0.0.9");
        ioctl(w, UENV_IOC_SET, &rec, sizeof(rec), fuzz::USER_TAIL_MAPPED, 1);
        uboot_env_index_record index{};
        ioctl(w, UENV_IOC_KEY_AT, &index, sizeof(index), fuzz::USER_HEAD_MAPPED, 4);
        std::uint32_t n = 0;
        ioctl(w, UENV_IOC_COUNT, &n, sizeof(n), fuzz::USER_NULL);
        ioctl(w, UENV_IOC_COUNT, &n, sizeof(n), fuzz::USER_TOP, 2);
        ioctl(w, UENV_IOC_COUNT, &n, sizeof(n), fuzz::USER_WRAP, 0);
        ioctl(w, UENV_IOC_GET & ~0xff00u, &rec, sizeof(rec));  // type 0
        ioctl(w, 0x4500, &n, sizeof(n));
        ioctl(w, 0xc1404501, &rec, sizeof(rec));  // read-write, 320 bytes: a get
        save("device", "user-memory", w);
    }
    {
        writer w;
        w.u8(fuzz::FLASH_SMALL);
        proc(w, "d\n");
        proc(w, "  dump  ");
        proc(w, "g bootargs");
        proc(w, "g nosuch");
        proc(w, "gbootargs");
        proc(w, "x");
        proc(w, "");
        proc(w, std::string(63, 'g'));
        proc(w, std::string(64, 'd'));
        proc(w, "g serverip", fuzz::USER_HEAD_MAPPED, 3);
        save("device", "proc-commands", w);
    }
    {
        writer w;
        w.u8(fuzz::FLASH_SMALL);
        w.u8(fuzz::OP_OPEN);
        w.u8(fuzz::OP_UNBIND);
        get(w, "bootargs");
        proc(w, "g bootargs");
        w.u8(fuzz::OP_BIND);
        proc(w, "g bootargs");
        get(w, "bootargs");
        w.u8(fuzz::OP_OPEN);
        ioctl(w, UENV_IOC_COUNT, "\0\0\0\0", 4, fuzz::USER_MAPPED, 0, 0, 2);
        w.u8(fuzz::OP_FILE_CALLS).u8(0);
        w.u8(fuzz::OP_CLOSE).u8(0);
        w.u8(fuzz::OP_CLOSE).u8(0);
        save("device", "unbind-rebind", w);
    }
    {
        writer w;
        w.u8(fuzz::FLASH_NEAR_FULL);
        set(w, "bootargs", std::string(200, 'b') + " console=ttyS0,115200");
        set(w, "identification", std::string(100, 'i'));
        w.u8(fuzz::OP_FAIL_ALLOC).u8(1);
        set(w, "serverip", "10.0.0.4");
        w.u8(fuzz::OP_FAIL_FLASH).u8(0);
        set(w, "serverip", "10.0.0.5");
        set(w, "serverip", "10.0.0.6");
        w.u8(fuzz::OP_FAIL_ALLOC).u8(0);
        w.u8(fuzz::OP_UNBIND).u8(fuzz::OP_BIND);
        count(w);
        w.u8(fuzz::OP_FAIL_FLASH).u8(1);
        w.u8(fuzz::OP_BIND).u8(fuzz::OP_BIND).u8(fuzz::OP_OPEN);
        ioctl(w, UENV_IOC_COUNT, "\0\0\0\0", 4, fuzz::USER_MAPPED, 0, 0, 1);
        save("device", "no-room-no-memory-bad-flash", w);
    }
    {
        writer w;
        // A value of 1023 characters, strings of `env.size()` bytes.
        const std::string bootargs = "bootargs=console=ttyS0,115200n8 " + std::string(1000, 'b');
        const std::string env =
            strings({bootargs, "bootcmd=bootm", "serverip=10.0.0.2", "empty=", "=empty key",
                     std::string(70, 'k') + "=long key"});
        const auto used = static_cast<std::uint32_t>(env.size());
        flash_from(w, env);
        get_value(w, "bootargs", 1023, 1023); // one byte too small
        get_value(w, "bootargs", 1024, 1024); // exactly the value
        get_value(w, "empty", 1, 1);
        get_value(w, "", 16, 16);
        get_value(w, "nosuch", 16, 16);
        get_value(w, std::string(64, 'k'), 16, 16); // no NUL in the key
        list(w, used - 1);
        list(w, used);
        list(w, 4096, fuzz::USER_HEAD_MAPPED, 600);
        save("device", "whole-values", w);
    }
    {
        writer w;
        w.u8(fuzz::FLASH_SMALL);
        change(w, {"serverip",       "10.0.0.3",
                   "update_ip",      "10.0.0.7",
                   "identification", std::string(700, 'i'),
                   "device_type",    "",
                   "serverip",       "",
                   "serverip",       "10.0.0.4",
                   "update_ip",      "10.0.0.8",
                   "bootargs",       "console=ttyS0,9600",
                   "device_type",    "gw",
                   "device_type",    ""});
        change(w, {"update_ip", "1", "update_ip", ""});
        change(w, {});
        change(w, {"serverip", "1", "ethaddr", "02:00:00:00:00:02"});
        change(w, {"serverip=1", "2"});
        change(w, {"", "2"});
        change(w, {std::string(64, 'k'), "v"});
        change(w, {"serverip", "1", "serverip", "2"}, 19); // cuts the last change
        change(w, {"serverip", "1"}, 64);                  // more than the buffer
        change(w, {"serverip", "1"}, UENV_CHANGES_MAX + 1);
        list(w, 4096);
        save("device", "change-sets", w);
    }
    {
        writer w;
        w.u8(fuzz::FLASH_NEAR_FULL);
        change(w, {"identification", std::string(300, 'i')});
        change(w, {"serverip", "1", "identification", std::string(400, 'i'), "serverip", ""});
        change(w, {"identification", std::string(200, 'i'), "update_ip", std::string(100, 'u')});
        change(w, {"identification", std::string(900, 'i'), "identification", "1"});
        w.u8(fuzz::OP_FAIL_ALLOC).u8(3);
        change(w, {"serverip", "10.0.0.5", "update_ip", "10.0.0.6"});
        w.u8(fuzz::OP_FAIL_FLASH).u8(0);
        change(w, {"serverip", "10.0.0.5", "update_ip", "10.0.0.6"});
        change(w, {"serverip", "10.0.0.5", "update_ip", "10.0.0.6"});
        save("device", "change-set-no-room", w);
    }
    {
        // FLASH_NEAR_FULL leaves 299 bytes: "identification=", 283
        // characters and the NUL fill the block to its last string byte.
        writer w;
        w.u8(fuzz::FLASH_NEAR_FULL);
        change(w, {"identification", std::string(284, 'i')});
        change(w, {"identification", std::string(283, 'i')});
        change(w, {"identification", "", "update_ip", std::string(288, 'u')});
        save("device", "change-set-fills-the-block", w);
    }
}

// ---- daemon ----

writer &datagram(writer &w, std::int32_t cmd, std::size_t len = sizeof(daemon_msg))
{
    std::uint8_t bytes[fuzz::max_datagram] = {};
    std::memcpy(bytes, &cmd, sizeof(cmd));
    return w.u8(static_cast<unsigned>(len)).bytes(bytes, len);
}

void daemon_seeds()
{
    {
        writer w;
        datagram(w, 1);
        datagram(w, 2);
        datagram(w, 2);
        w.u8(fuzz::monitor_window).u8(fuzz::monitor_window).u8(fuzz::monitor_window);
        datagram(w, 1);
        datagram(w, 3);
        datagram(w, 1);
        save("daemon", "register-heartbeat-timeout", w);
    }
    {
        writer w;
        datagram(w, 2);
        datagram(w, 3);
        datagram(w, 1, 4);
        datagram(w, 1, 0);
        datagram(w, 1, 12);
        datagram(w, 1);
        datagram(w, 7);
        datagram(w, -1);
        save("daemon", "out-of-turn-and-odd-sizes", w);
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
        return 2;
    }
    root = argv[1];
    codec_seeds();
    rewriter_seeds();
    device_seeds();
    daemon_seeds();
    return failures ? 1 : 0;
}

// The byte formats of the fuzz inputs: a reader for the targets and a
// writer for the seed generator, so that both agree on every field. And
// CHECK, which stops a target as a crash so that libFuzzer keeps the input.
// Fields are read front to back; a field past the end of the input reads
// as zero, so every byte string is a valid input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#define CHECK(cond)                                                                    \
    do {                                                                               \
        if (!(cond)) {                                                                 \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                              \
        }                                                                              \
    } while (0)

namespace fuzz {

class reader {
public:
    reader(const std::uint8_t *data, std::size_t size) : data_(data), left_(size) {}

    bool empty() const { return left_ == 0; }
    std::size_t left() const { return left_; }

    std::uint8_t u8()
    {
        if (!left_)
            return 0;
        left_--;
        return *data_++;
    }

    std::uint16_t u16()
    {
        std::uint16_t low = u8();
        return static_cast<std::uint16_t>(low | u8() << 8);
    }

    std::uint32_t u32()
    {
        std::uint32_t low = u16();
        return low | std::uint32_t(u16()) << 16;
    }

    // Copies up to n bytes into out; returns how many there were.
    std::size_t bytes(void *out, std::size_t n)
    {
        n = n < left_ ? n : left_;
        if (n)
            std::memcpy(out, data_, n);
        data_ += n;
        left_ -= n;
        return n;
    }

    std::vector<std::uint8_t> take(std::size_t n)
    {
        std::vector<std::uint8_t> out(n < left_ ? n : left_);
        bytes(out.data(), out.size());
        return out;
    }

private:
    const std::uint8_t *data_;
    std::size_t left_;
};

class writer {
public:
    writer &u8(unsigned v)
    {
        out_.push_back(static_cast<std::uint8_t>(v));
        return *this;
    }
    writer &u16(unsigned v) { return u8(v & 0xff).u8(v >> 8 & 0xff); }
    writer &u32(std::uint32_t v) { return u16(v & 0xffff).u16(v >> 16); }
    writer &bytes(const void *p, std::size_t n)
    {
        const auto *b = static_cast<const std::uint8_t *>(p);
        out_.insert(out_.end(), b, b + n);
        return *this;
    }
    writer &text(const std::string &s) { return bytes(s.data(), s.size()); }

    const std::vector<std::uint8_t> &data() const { return out_; }

private:
    std::vector<std::uint8_t> out_;
};

// ---- codec ----
// flags, flash length (u16), flash bytes, then the boot loader's bytes.
enum codec_flags : std::uint8_t {
    CODEC_FLASH_SEALED = 1 << 0, // flash bytes are the data area, CRC made right
    CODEC_BOOT_SEALED = 1 << 1,  // same for the boot loader's block
    CODEC_FLASH_ERASED = 1 << 2, // flash bytes not given are 0xff, not 0
    CODEC_NO_BOOT_TAG = 1 << 3,  // the boot loader hands over nothing
    // Bits 4-7: the nth allocation of the parse fails (0: none).
};
constexpr unsigned codec_fail_shift = 4;

// ---- console rewriter ----
// flags, the 16-byte configuration, then the value's bytes (at most 256).
enum rewriter_flags : std::uint8_t {
    REWRITER_NULL_RECORD = 1 << 0,
    REWRITER_NULL_CONFIG = 1 << 1,
    REWRITER_VALID_CONFIG = 1 << 2, // fold every field into its valid range
    REWRITER_NO_MEMORY = 1 << 3,    // the scratch buffer is not available
    REWRITER_FILL_FIELD = 1 << 4,   // value bytes not given are 'x', not 0
};

// ---- device ----
// The initial flash (u8), then operations until the input ends. A user
// buffer is: its size (u16, at most max_user_size), a layout (u8), the
// layout's parameters (two u16) and its contents (the rest of the size).
enum device_op : std::uint8_t {
    OP_IOCTL,       // file (u8), command word (u32), user buffer
    OP_PROC_WRITE,  // length (u8), user buffer of that length
    OP_OPEN,        // one more file on /dev/env
    OP_CLOSE,       // file (u8)
    OP_UNBIND,      // the device loses its driver, files stay open
    OP_BIND,        // and gets it again (a fresh probe)
    OP_FAIL_ALLOC,  // nth (u8) allocation from now fails
    OP_FAIL_FLASH,  // (u8) odd: the next flash read fails, even: the next write
    OP_FILE_CALLS,  // file (u8): read, write and poll
    OP_COUNT
};

enum user_layout : std::uint8_t {
    USER_MAPPED,      // the whole buffer is user memory
    USER_HEAD_MAPPED, // only the first a bytes are
    USER_TAIL_MAPPED, // only the bytes from a on are
    USER_UNMAPPED,    // none is
    USER_HOLE,        // all but b bytes from a on are
    USER_NULL,        // the argument is 0
    USER_TOP,         // the argument is a bytes below the end of user space
    USER_WRAP,        // the argument is a bytes below the top of the address space
    USER_LAYOUTS
};

// Room for a record and the whole environment behind it.
constexpr std::size_t max_user_size = 4096 + 64;

enum initial_flash : std::uint8_t {
    FLASH_ERASED,     // the default environment is chosen
    FLASH_SMALL,      // a few keys
    FLASH_NEAR_FULL,  // a few keys and a filler that leaves little room
    FLASH_FROM_INPUT, // length (u16) and data area of a valid block
    FLASH_KINDS
};

// ---- daemon ----
// Events until the input ends: a length byte and that many datagram bytes,
// or monitor_window: the monitor's 10-s window ends now.
constexpr std::uint8_t monitor_window = 0xff;
constexpr std::size_t max_datagram = 16;

} // namespace fuzz

// Core kernel services of the stand-in: log, slab, strings, CRC, semaphores
// and user memory.
#include <zlib.h>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

// Kernel headers last: their macros (min, __init, ...) would break the above.
#include <linux/kernel.h>
#include <linux/module.h>
#include <linux/slab.h>
#include <linux/string.h>
#include <linux/crc32.h>
#include <linux/semaphore.h>
#include <linux/uaccess.h>

#include "hostkernel.h"
#include "internal.h"

extern "C" {
struct module __this_module = {"kelubootenv", 0};
}

namespace {

std::mutex log_mutex;
std::string kernel_log;

std::mutex slab_mutex;
std::map<const void *, std::size_t> live_blocks;
unsigned long allocations;
unsigned long fail_at; // allocation number that fails, 0: none

struct user_range {
    std::uintptr_t start, end;
};
std::mutex user_mutex;
std::vector<user_range> user_ranges;

// Length of the mapped run that starts at addr, at most len.
std::size_t user_accessible(std::uintptr_t addr, std::size_t len)
{
    std::lock_guard<std::mutex> lock(user_mutex);
    std::size_t done = 0;
    bool advanced = true;
    while (done < len && advanced) {
        advanced = false;
        for (const user_range &r : user_ranges) {
            std::uintptr_t at = addr + done;
            if (at >= r.start && at < r.end) {
                done += std::min<std::size_t>(len - done, r.end - at);
                advanced = true;
            }
        }
    }
    return done;
}

} // namespace

extern "C" int printk(const char *fmt, ...)
{
    char line[1024];
    va_list ap;
    va_start(ap, fmt);
    int len = vsnprintf(line, sizeof(line), fmt, ap); // NOLINT(clang-analyzer-valist.Uninitialized): started above
    va_end(ap);

    // A leading "<N>" or "<c>" is a level or continuation mark, not text.
    const char *text = line;
    if (text[0] == '<' && text[1] != '\0' && text[2] == '>' &&
        ((text[1] >= '0' && text[1] <= '7') || text[1] == 'c' || text[1] == 'd'))
        text += 3;

    std::lock_guard<std::mutex> lock(log_mutex);
    kernel_log += text;
    if (std::getenv("HOSTKERNEL_LOG"))
        std::fputs(text, stderr);
    return len;
}

extern "C" void *kmalloc(size_t size, unsigned int gfp)
{
    std::lock_guard<std::mutex> lock(slab_mutex);
    if (++allocations == fail_at) {
        fail_at = 0;
        return nullptr;
    }
    void *p = std::malloc(size ? size : 1);
    if (!p)
        return nullptr;
    if (gfp & __GFP_ZERO)
        std::memset(p, 0, size);
    else
        std::memset(p, 0xa5, size); // slab memory is not clean
    live_blocks[p] = size;
    return p;
}

extern "C" void kfree(const void *p)
{
    if (!p)
        return;
    {
        std::lock_guard<std::mutex> lock(slab_mutex);
        auto it = live_blocks.find(p);
        if (it == live_blocks.end()) {
            std::fprintf(stderr, "hostkernel: kfree of %p, not allocated\n", p);
            std::abort();
        }
        live_blocks.erase(it);
    }
    std::free(const_cast<void *>(p));
}

extern "C" char *kstrndup(const char *s, size_t max, unsigned int gfp)
{
    if (!s)
        return nullptr;
    size_t len = strnlen(s, max);
    char *copy = static_cast<char *>(kmalloc(len + 1, gfp));
    if (copy) {
        std::memcpy(copy, s, len);
        copy[len] = '\0';
    }
    return copy;
}

extern "C" char *kstrdup(const char *s, unsigned int gfp)
{
    return s ? kstrndup(s, std::strlen(s), gfp) : nullptr;
}

extern "C" char *strim(char *s)
{
    size_t len = std::strlen(s);
    while (len && isspace(static_cast<unsigned char>(s[len - 1])))
        s[--len] = '\0';
    while (isspace(static_cast<unsigned char>(*s)))
        s++;
    return s;
}

extern "C" char *strnstr(const char *haystack, const char *needle, size_t len)
{
    size_t needle_len = std::strlen(needle);
    if (!needle_len)
        return const_cast<char *>(haystack);
    for (; len >= needle_len; haystack++, len--) {
        if (!std::memcmp(haystack, needle, needle_len))
            return const_cast<char *>(haystack);
    }
    return nullptr;
}

// zlib's crc32 inverts before and after; the kernel's crc32_le does neither.
extern "C" u32 crc32_le(u32 crc, unsigned char const *p, size_t len)
{
    return ~static_cast<u32>(::crc32(~crc & 0xffffffffUL, p, static_cast<uInt>(len)));
}

extern "C" void sema_init(struct semaphore *sem, int val)
{
    pthread_mutex_init(&sem->lock, nullptr);
    pthread_cond_init(&sem->wait, nullptr);
    sem->count = static_cast<unsigned int>(val);
}

extern "C" void down(struct semaphore *sem)
{
    pthread_mutex_lock(&sem->lock);
    while (sem->count == 0)
        pthread_cond_wait(&sem->wait, &sem->lock);
    sem->count--;
    pthread_mutex_unlock(&sem->lock);
}

extern "C" void up(struct semaphore *sem)
{
    pthread_mutex_lock(&sem->lock);
    sem->count++;
    pthread_cond_signal(&sem->wait);
    pthread_mutex_unlock(&sem->lock);
}

// As in the kernel: a range outside user space copies nothing, a fault
// inside it stops the copy there; copy_from_user zero-fills what it missed.
static std::size_t user_copyable(const void *addr, std::size_t n)
{
    auto start = reinterpret_cast<std::uintptr_t>(addr);
    bool in_user_space = start + n >= start && start + n <= hk::user_space_end;
    return in_user_space ? user_accessible(start, n) : 0;
}

extern "C" unsigned long copy_from_user(void *to, const void *from, unsigned long n)
{
    std::size_t done = user_copyable(from, n);
    if (done)
        std::memcpy(to, from, done);
    std::memset(static_cast<char *>(to) + done, 0, n - done);
    return n - done;
}

extern "C" unsigned long copy_to_user(void *to, const void *from, unsigned long n)
{
    std::size_t done = user_copyable(to, n);
    if (done)
        std::memcpy(to, from, done);
    return n - done;
}

namespace hk {

std::string log()
{
    std::lock_guard<std::mutex> lock(log_mutex);
    return kernel_log;
}

void clear_log()
{
    std::lock_guard<std::mutex> lock(log_mutex);
    kernel_log.clear();
}

void fail_allocation(unsigned nth)
{
    std::lock_guard<std::mutex> lock(slab_mutex);
    fail_at = nth ? allocations + nth : 0;
}

unsigned long allocation_count()
{
    std::lock_guard<std::mutex> lock(slab_mutex);
    return allocations;
}

std::size_t live_allocations()
{
    std::lock_guard<std::mutex> lock(slab_mutex);
    return live_blocks.size();
}

void map_user(const void *p, std::size_t len)
{
    auto start = reinterpret_cast<std::uintptr_t>(p);
    std::lock_guard<std::mutex> lock(user_mutex);
    user_ranges.push_back({start, start + len});
}

void unmap_user(const void *p)
{
    auto start = reinterpret_cast<std::uintptr_t>(p);
    std::lock_guard<std::mutex> lock(user_mutex);
    for (auto it = user_ranges.begin(); it != user_ranges.end(); ++it) {
        if (it->start == start) {
            user_ranges.erase(it);
            return;
        }
    }
}

void reset()
{
    clear_log();
    {
        std::lock_guard<std::mutex> lock(slab_mutex);
        fail_at = 0;
    }
    {
        std::lock_guard<std::mutex> lock(user_mutex);
        user_ranges.clear();
    }
    reset_devices();
    reset_board();
}

} // namespace hk

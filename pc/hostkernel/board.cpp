// The board kernel's services: klmr_list with its board record and flash
// device, call_klmr_notifiers, and the ARM boot-tag walk.
#include <fcntl.h>
#include <unistd.h>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

// Kernel headers last: their macros (min, __init, ...) would break the above.
#include <linux/kernel.h>
#include <linux/errno.h>
#include <linux/mtd/mtd.h>
#include <asm/setup.h>

#include "hostkernel.h"
#include "internal.h"
#include "klmr.h"

namespace {

std::mutex board_mutex;
unsigned char board_record[KLMR_RECORD_SIZE];
std::vector<std::uint8_t> flash_memory;
std::string flash_path; // file backing; empty: memory
std::vector<hk::board_call> calls;
unsigned reads, writes;
unsigned fail_read_at, fail_write_at;
int fail_read_err, fail_write_err;
mtd_info flash_mtd;

void set_record_mtd(mtd_info *mtd)
{
    // The pointer itself goes into the record, unaligned on 64-bit PCs.
    std::memcpy(board_record + KLMR_FLASH_MTD, &mtd, sizeof(mtd)); // NOLINT(bugprone-sizeof-expression)
}

bool in_flash(loff_t offset, size_t len)
{
    return offset >= 0 && static_cast<std::uint64_t>(offset) <= hk::flash_size &&
           len <= hk::flash_size - static_cast<std::uint64_t>(offset);
}

// Fails with the injected error, -EINVAL out of range, -EIO on a file error.
int flash_io(bool write, loff_t offset, size_t len, size_t *retlen, u_char *buf)
{
    std::lock_guard<std::mutex> lock(board_mutex);
    calls.push_back({write ? hk::board_call_kind::write : hk::board_call_kind::read, 0,
                     nullptr, static_cast<std::uint64_t>(offset), len});
    unsigned n = write ? ++writes : ++reads;
    if (write && n == fail_write_at)
        return fail_write_err;
    if (!write && n == fail_read_at)
        return fail_read_err;
    if (!in_flash(offset, len))
        return -EINVAL;
    if (flash_path.empty()) {
        if (write)
            std::memcpy(flash_memory.data() + offset, buf, len);
        else
            std::memcpy(buf, flash_memory.data() + offset, len);
    } else {
        int fd = ::open(flash_path.c_str(), write ? O_WRONLY : O_RDONLY);
        if (fd < 0)
            return -EIO;
        ssize_t done = write ? ::pwrite(fd, buf, len, offset) : ::pread(fd, buf, len, offset);
        ::close(fd);
        if (done != static_cast<ssize_t>(len))
            return -EIO;
    }
    *retlen = len;
    return 0;
}

int flash_read(mtd_info *, loff_t from, size_t len, size_t *retlen, u_char *buf)
{
    return flash_io(false, from, len, retlen, buf);
}

int flash_write(mtd_info *, loff_t to, size_t len, size_t *retlen, const u_char *buf)
{
    return flash_io(true, to, len, retlen, const_cast<u_char *>(buf));
}

} // namespace

void *klmr_list;

int call_klmr_notifiers(unsigned long event, void *data)
{
    std::lock_guard<std::mutex> lock(board_mutex);
    calls.push_back({hk::board_call_kind::notify, event, data, 0, 0});
    return 0;
}

// The section bounds exist only when a driver has entered a tag handler.
extern "C" const struct tagtable __start_hostkernel_taglist[] __attribute__((weak));
extern "C" const struct tagtable __stop_hostkernel_taglist[] __attribute__((weak));

namespace hk {

std::vector<std::uint8_t> &flash() { return flash_memory; }

void use_flash_file(const std::string &path)
{
    std::lock_guard<std::mutex> lock(board_mutex);
    flash_path = path;
}

void set_board_type(std::uint8_t type)
{
    board_record[KLMR_BOARD_TYPE] = type;
}

void remove_board() { klmr_list = nullptr; }

void remove_flash() { set_record_mtd(nullptr); }

void fail_flash_read(unsigned nth, int err)
{
    std::lock_guard<std::mutex> lock(board_mutex);
    fail_read_at = nth ? reads + nth : 0;
    fail_read_err = err;
}

void fail_flash_write(unsigned nth, int err)
{
    std::lock_guard<std::mutex> lock(board_mutex);
    fail_write_at = nth ? writes + nth : 0;
    fail_write_err = err;
}

std::vector<board_call> board_calls()
{
    std::lock_guard<std::mutex> lock(board_mutex);
    return calls;
}

void clear_board_calls()
{
    std::lock_guard<std::mutex> lock(board_mutex);
    calls.clear();
}

void parse_tags(const tag *t)
{
    for (; t->hdr.size; t = tag_next(t)) {
        // The linker's bounds of one section: one array in fact.
        const tagtable *first = __start_hostkernel_taglist, *end = __stop_hostkernel_taglist;
        // cppcheck-suppress comparePointers
        for (const tagtable *e = first; e && e < end; e++) {
            if (e->tag == t->hdr.tag) {
                e->parse(t);
                break;
            }
        }
    }
}

void reset_board()
{
    std::lock_guard<std::mutex> lock(board_mutex);
    flash_memory.assign(flash_size, 0xff); // erased
    flash_path.clear();
    calls.clear();
    reads = writes = 0;
    fail_read_at = fail_write_at = 0;
    flash_mtd = mtd_info{};
    flash_mtd.type = MTD_NORFLASH;
    flash_mtd.flags = MTD_WRITEABLE;
    flash_mtd.size = flash_size;
    flash_mtd.erasesize = 4096;
    flash_mtd.writesize = 1;
    flash_mtd.name = "flash";
    flash_mtd.read = flash_read;
    flash_mtd.write = flash_write;
    std::memset(board_record, 0, sizeof(board_record));
    set_record_mtd(&flash_mtd);
    klmr_list = board_record;
}

} // namespace hk

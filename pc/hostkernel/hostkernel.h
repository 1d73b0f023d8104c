// Controls of the kernel stand-in, for host tests and benchmarks: what the
// real kernel's environment would do to a driver (failing allocations, user
// pointers that fault, files opened and devices unbound by user space, a
// flash device that fails) and what the driver did (log, board calls).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct file;
struct tag;
struct platform_device;
struct miscdevice;

namespace hk {

// Everything back to a freshly booted kernel: log, allocation faults, user
// mappings, injected failures, board and flash (erased). Registries must be
// empty: a test unloads what it loaded.
void reset();

// Kernel log: the text of every printk since the last reset or clear_log.
std::string log();
void clear_log();

// Slab: fail the nth allocation from now (1 = the next); 0 disarms.
void fail_allocation(unsigned nth);
unsigned long allocation_count();
std::size_t live_allocations();

// User memory: only registered ranges are readable and writable user memory.
void map_user(const void *p, std::size_t len);
void unmap_user(const void *p);
constexpr std::uintptr_t user_space_end = 0x7ffffffff000;

// Registration failures for the next call of each kind (0 disarms).
void fail_next_platform_device_register(int err);
void fail_next_platform_driver_register(int err);
void fail_next_misc_register(int err);
void fail_next_proc_create();

// Device model, as sysfs bind and unbind do it.
bool bound(const platform_device *pdev);
void unbind(platform_device *pdev);
int bind(platform_device *pdev);

// Files on misc devices, as the VFS and the misc layer open them.
const miscdevice *find_misc(const char *name);
enum open_mode { read_only, read_write };
int open(const char *misc_name, file **out, open_mode mode = read_write);
long ioctl(file *f, unsigned int cmd, unsigned long arg);
long read(file *f, void *buf, std::size_t len);
long write(file *f, const void *buf, std::size_t len);
unsigned int poll(file *f);
int close(file *f);
int module_refcount();

// Proc files: a write from user memory, a read into a page.
bool proc_exists(const char *path);
unsigned proc_mode(const char *path);
int proc_write(const char *path, const void *user_buf, unsigned long len);
int proc_read(const char *path, std::string *out);
// The next creation of `path` gets a write of `text` the moment the entry is
// visible, as if another process had raced the driver to it.
void write_proc_when_visible(const char *path, const std::string &text);
int write_when_visible_result();

// Boot tags, as the ARM kernel walks them during early boot.
void parse_tags(const tag *tags);

// Board services: the board record behind klmr_list and its flash device.
enum class board_call_kind { notify, read, write };
struct board_call {
    board_call_kind kind;
    unsigned long event;  // notify
    void *data;           // notify
    std::uint64_t offset; // read, write
    std::size_t len;      // read, write
};
constexpr std::size_t flash_size = 256 * 1024;
std::vector<std::uint8_t> &flash();      // memory-backed contents
void use_flash_file(const std::string &path); // back the device by a file instead
void set_board_type(std::uint8_t type);
void remove_board();                      // klmr_list becomes NULL
void remove_flash();                      // the record names no device
void fail_flash_read(unsigned nth, int err);  // nth read from now; 0 disarms
void fail_flash_write(unsigned nth, int err);
std::vector<board_call> board_calls();
void clear_board_calls();

} // namespace hk

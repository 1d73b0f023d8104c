// Device model of the stand-in: the platform bus, misc devices and the files
// opened on them, and proc entries, each behaving as Linux 3.0 does.
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// Kernel headers last: their macros (min, __init, ...) would break the above.
#include <linux/kernel.h>
#include <linux/module.h>
#include <linux/errno.h>
#include <linux/fs.h>
#include <linux/poll.h>
#include <linux/miscdevice.h>
#include <linux/platform_device.h>
#include <linux/proc_fs.h>

#include "hostkernel.h"
#include "internal.h"

namespace {

// ---- platform bus ----

std::recursive_mutex bus_mutex; // the driver core's device lock, for all devices
std::vector<platform_device *> devices;
std::vector<platform_driver *> drivers;
int device_register_error, driver_register_error;

bool matches(const platform_device *pdev, const platform_driver *drv)
{
    return std::strcmp(pdev->name, drv->driver.name) == 0;
}

platform_driver *driver_of(const platform_device *pdev)
{
    return pdev->dev.driver ? container_of(pdev->dev.driver, platform_driver, driver)
                            : nullptr;
}

// A failed probe leaves the device unbound and is not reported to whoever
// registered the device or the driver; the kernel only logs it.
int really_probe(platform_device *pdev, platform_driver *drv)
{
    pdev->dev.driver = &drv->driver;
    int ret = drv->probe(pdev);
    if (ret) {
        pdev->dev.driver = nullptr;
        dev_set_drvdata(&pdev->dev, nullptr);
        if (ret != -ENODEV && ret != -ENXIO)
            printk("%s: probe of %s.%d failed with error %d\n", drv->driver.name,
                   pdev->name, pdev->id, ret);
    }
    return ret;
}

void release_driver(platform_device *pdev)
{
    platform_driver *drv = driver_of(pdev);
    if (!drv)
        return;
    if (drv->remove)
        drv->remove(pdev);
    pdev->dev.driver = nullptr;
    dev_set_drvdata(&pdev->dev, nullptr);
}

// ---- misc devices and files ----

constexpr int dynamic_minors = 64;
std::mutex misc_mtx;
std::vector<miscdevice *> miscs;
bool dynamic_minor_used[dynamic_minors];
int misc_register_error;
inode misc_inode;

// ---- proc ----

struct proc_file {
    proc_dir_entry entry;
    std::string path;
    int users = 0;
    bool removing = false;
};
std::mutex proc_mutex;
std::condition_variable proc_idle;
std::list<proc_file> proc_files;
bool proc_create_fails;

// A proc write that arrives the moment its entry becomes visible.
struct {
    bool armed = false;
    std::string path;
    std::string text;
    int result = 0;
} write_when_visible;

// The file a process has open on a proc entry.
struct proc_open_file {
    inode node{};
    dentry dir_entry{};
    file f{};

    proc_open_file(proc_dir_entry *entry, fmode_t mode)
    {
        node.i_private = entry;
        dir_entry.d_inode = &node;
        f.f_op = entry->proc_fops;
        f.f_mode = mode;
        f.f_path.dentry = &dir_entry;
    }
};

proc_file *find_proc_locked(const std::string &path)
{
    for (proc_file &f : proc_files) {
        if (f.path == path && !f.removing)
            return &f;
    }
    return nullptr;
}

// Holds a proc file against removal while a handler runs, as pde_users does.
struct proc_use {
    proc_file *file = nullptr;

    explicit proc_use(const char *path)
    {
        std::lock_guard<std::mutex> lock(proc_mutex);
        file = find_proc_locked(path);
        if (file)
            file->users++;
    }
    ~proc_use()
    {
        if (!file)
            return;
        std::lock_guard<std::mutex> lock(proc_mutex);
        file->users--;
        proc_idle.notify_all();
    }
    proc_use(const proc_use &) = delete;
    proc_use &operator=(const proc_use &) = delete;
};

} // namespace

extern "C" int platform_device_register(platform_device *pdev)
{
    std::lock_guard<std::recursive_mutex> lock(bus_mutex);
    if (int err = std::exchange(device_register_error, 0))
        return err;
    for (platform_device *d : devices) {
        if (d == pdev || (!std::strcmp(d->name, pdev->name) && d->id == pdev->id))
            return -EEXIST;
    }
    devices.push_back(pdev);
    for (platform_driver *drv : drivers) {
        if (matches(pdev, drv)) {
            really_probe(pdev, drv);
            break;
        }
    }
    return 0;
}

extern "C" void platform_device_unregister(platform_device *pdev)
{
    std::lock_guard<std::recursive_mutex> lock(bus_mutex);
    auto it = std::find(devices.begin(), devices.end(), pdev);
    if (it == devices.end())
        return;
    release_driver(pdev);
    devices.erase(it);
    if (pdev->dev.release)
        pdev->dev.release(&pdev->dev);
    else
        printk("Device '%s.%d' does not have a release() function, it is broken "
               "and must be fixed.\n", pdev->name, pdev->id);
}

extern "C" int platform_driver_register(platform_driver *drv)
{
    std::lock_guard<std::recursive_mutex> lock(bus_mutex);
    if (int err = std::exchange(driver_register_error, 0))
        return err;
    if (std::find(drivers.begin(), drivers.end(), drv) != drivers.end())
        return -EBUSY;
    drivers.push_back(drv);
    for (platform_device *pdev : devices) {
        if (!pdev->dev.driver && matches(pdev, drv))
            really_probe(pdev, drv);
    }
    return 0;
}

extern "C" void platform_driver_unregister(platform_driver *drv)
{
    std::lock_guard<std::recursive_mutex> lock(bus_mutex);
    for (platform_device *pdev : devices) {
        if (driver_of(pdev) == drv)
            release_driver(pdev);
    }
    drivers.erase(std::remove(drivers.begin(), drivers.end(), drv), drivers.end());
}

extern "C" int misc_register(miscdevice *misc)
{
    std::lock_guard<std::mutex> lock(misc_mtx);
    if (int err = std::exchange(misc_register_error, 0))
        return err;
    for (const miscdevice *m : miscs) {
        if (m == misc || (misc->minor != MISC_DYNAMIC_MINOR && m->minor == misc->minor))
            return -EBUSY;
        if (!std::strcmp(m->name, misc->name))
            return -EEXIST; // the device node's name is taken
    }
    if (misc->minor == MISC_DYNAMIC_MINOR) {
        int i = 0;
        while (i < dynamic_minors && dynamic_minor_used[i])
            i++;
        if (i == dynamic_minors)
            return -EBUSY;
        dynamic_minor_used[i] = true;
        misc->minor = dynamic_minors - i - 1;
    }
    miscs.push_back(misc);
    return 0;
}

extern "C" int misc_deregister(miscdevice *misc)
{
    std::lock_guard<std::mutex> lock(misc_mtx);
    auto it = std::find(miscs.begin(), miscs.end(), misc);
    if (it == miscs.end())
        return -EINVAL;
    miscs.erase(it);
    int i = dynamic_minors - misc->minor - 1;
    if (i >= 0 && i < dynamic_minors)
        dynamic_minor_used[i] = false;
    return 0;
}

extern "C" proc_dir_entry *proc_create_data(const char *name, mode_t mode,
                                            proc_dir_entry *parent,
                                            const file_operations *proc_fops, void *data)
{
    std::string path = parent ? std::string(parent->name) + "/" + name : name;
    proc_dir_entry *entry;
    std::string racing_write;
    {
        std::lock_guard<std::mutex> lock(proc_mutex);
        if (std::exchange(proc_create_fails, false) || find_proc_locked(path))
            return nullptr;
        proc_file &f = proc_files.emplace_back();
        f.path = path;
        f.entry.name = f.path.c_str();
        f.entry.mode = mode;
        f.entry.proc_fops = proc_fops;
        f.entry.data = data;
        entry = &f.entry;
        if (write_when_visible.armed && write_when_visible.path == path) {
            write_when_visible.armed = false;
            racing_write = write_when_visible.text;
        }
    }
    // Visible from here on: another process may write at once.
    if (!racing_write.empty()) {
        hk::map_user(racing_write.data(), racing_write.size());
        int result = hk::proc_write(path.c_str(), racing_write.data(), racing_write.size());
        hk::unmap_user(racing_write.data());
        std::lock_guard<std::mutex> lock(proc_mutex);
        write_when_visible.result = result;
    }
    return entry;
}

// Waits for running handlers, as the kernel does before the entry goes.
extern "C" void remove_proc_entry(const char *name, proc_dir_entry *parent)
{
    std::unique_lock<std::mutex> lock(proc_mutex);
    std::string path = parent ? std::string(parent->name) + "/" + name : name;
    proc_file *f = find_proc_locked(path);
    if (!f) {
        lock.unlock();
        printk("remove_proc_entry: name '%s'\n", path.c_str());
        return;
    }
    f->removing = true;
    proc_idle.wait(lock, [f] { return f->users == 0; });
    proc_files.remove_if([f](const proc_file &p) { return &p == f; });
}

namespace hk {

void fail_next_platform_device_register(int err)
{
    std::lock_guard<std::recursive_mutex> lock(bus_mutex);
    device_register_error = err;
}

void fail_next_platform_driver_register(int err)
{
    std::lock_guard<std::recursive_mutex> lock(bus_mutex);
    driver_register_error = err;
}

void fail_next_misc_register(int err)
{
    std::lock_guard<std::mutex> lock(misc_mtx);
    misc_register_error = err;
}

void fail_next_proc_create()
{
    std::lock_guard<std::mutex> lock(proc_mutex);
    proc_create_fails = true;
}

bool bound(const platform_device *pdev)
{
    std::lock_guard<std::recursive_mutex> lock(bus_mutex);
    return pdev->dev.driver != nullptr;
}

void unbind(platform_device *pdev)
{
    std::lock_guard<std::recursive_mutex> lock(bus_mutex);
    release_driver(pdev);
}

int bind(platform_device *pdev)
{
    std::lock_guard<std::recursive_mutex> lock(bus_mutex);
    if (pdev->dev.driver)
        return -EBUSY;
    for (platform_driver *drv : drivers) {
        if (matches(pdev, drv))
            return really_probe(pdev, drv);
    }
    return -ENODEV;
}

const miscdevice *find_misc(const char *name)
{
    std::lock_guard<std::mutex> lock(misc_mtx);
    for (const miscdevice *m : miscs) {
        if (!std::strcmp(m->name, name))
            return m;
    }
    return nullptr;
}

// misc_open: the device's fops replace the misc layer's, private_data names
// the misc device, and the driver's open runs under misc_mtx.
int open(const char *misc_name, file **out, open_mode mode)
{
    std::lock_guard<std::mutex> lock(misc_mtx);
    auto it = std::find_if(miscs.begin(), miscs.end(), [misc_name](const miscdevice *m) {
        return !std::strcmp(m->name, misc_name);
    });
    if (it == miscs.end())
        return -ENODEV;
    file *f = new file{};
    f->f_op = (*it)->fops;
    f->f_mode = mode == read_only ? FMODE_READ : FMODE_READ | FMODE_WRITE;
    f->private_data = *it;
    if (f->f_op->owner)
        __atomic_add_fetch(&f->f_op->owner->refcount, 1, __ATOMIC_SEQ_CST);
    int ret = f->f_op->open ? f->f_op->open(&misc_inode, f) : 0;
    if (ret) {
        if (f->f_op->owner)
            __atomic_sub_fetch(&f->f_op->owner->refcount, 1, __ATOMIC_SEQ_CST);
        delete f;
        return ret;
    }
    *out = f;
    return 0;
}

long ioctl(file *f, unsigned int cmd, unsigned long arg)
{
    return f->f_op->unlocked_ioctl ? f->f_op->unlocked_ioctl(f, cmd, arg) : -ENOTTY;
}

long read(file *f, void *buf, std::size_t len)
{
    return f->f_op->read ? f->f_op->read(f, static_cast<char *>(buf), len, &f->f_pos)
                         : -EINVAL;
}

long write(file *f, const void *buf, std::size_t len)
{
    return f->f_op->write
               ? f->f_op->write(f, static_cast<const char *>(buf), len, &f->f_pos)
               : -EINVAL;
}

unsigned int poll(file *f)
{
    // Without a poll method a file is always ready.
    constexpr unsigned int default_mask = 0x0001 | 0x0004 | 0x0040 | 0x0100;
    poll_table table{};
    return f->f_op->poll ? f->f_op->poll(f, &table) : default_mask;
}

int close(file *f)
{
    int ret = f->f_op->release ? f->f_op->release(&misc_inode, f) : 0;
    if (f->f_op->owner)
        __atomic_sub_fetch(&f->f_op->owner->refcount, 1, __ATOMIC_SEQ_CST);
    delete f;
    return ret;
}

int module_refcount()
{
    return __atomic_load_n(&THIS_MODULE->refcount, __ATOMIC_SEQ_CST);
}

bool proc_exists(const char *path)
{
    std::lock_guard<std::mutex> lock(proc_mutex);
    return find_proc_locked(path) != nullptr;
}

unsigned proc_mode(const char *path)
{
    std::lock_guard<std::mutex> lock(proc_mutex);
    proc_file *f = find_proc_locked(path);
    return f ? f->entry.mode : 0;
}

int proc_write(const char *path, const void *user_buf, unsigned long len)
{
    proc_use use(path);
    if (!use.file)
        return -ENOENT;
    proc_open_file of(&use.file->entry, FMODE_WRITE);
    if (!of.f.f_op || !of.f.f_op->write)
        return -EIO;
    return static_cast<int>(
        of.f.f_op->write(&of.f, static_cast<const char *>(user_buf), len, &of.f.f_pos));
}

int proc_read(const char *path, std::string *out)
{
    proc_use use(path);
    if (!use.file)
        return -ENOENT;
    proc_open_file of(&use.file->entry, FMODE_READ);
    if (!of.f.f_op || !of.f.f_op->read)
        return -EIO;
    std::vector<char> buf(4096);
    map_user(buf.data(), buf.size());
    long ret = of.f.f_op->read(&of.f, buf.data(), buf.size(), &of.f.f_pos);
    unmap_user(buf.data());
    if (ret > 0 && out)
        out->assign(buf.data(), static_cast<std::size_t>(ret));
    return static_cast<int>(ret);
}

void write_proc_when_visible(const char *path, const std::string &text)
{
    std::lock_guard<std::mutex> lock(proc_mutex);
    write_when_visible.armed = true;
    write_when_visible.path = path;
    write_when_visible.text = text;
    write_when_visible.result = 0;
}

int write_when_visible_result()
{
    std::lock_guard<std::mutex> lock(proc_mutex);
    return write_when_visible.result;
}

void reset_devices()
{
    bool leftovers;
    {
        std::lock_guard<std::recursive_mutex> bus(bus_mutex);
        std::lock_guard<std::mutex> misc(misc_mtx);
        std::lock_guard<std::mutex> proc(proc_mutex);
        leftovers = !devices.empty() || !drivers.empty() || !miscs.empty() ||
                    !proc_files.empty();
        device_register_error = driver_register_error = misc_register_error = 0;
        proc_create_fails = false;
        write_when_visible.armed = false;
    }
    if (leftovers) {
        std::fprintf(stderr, "hostkernel: reset with devices still registered\n");
        std::abort();
    }
}

} // namespace hk

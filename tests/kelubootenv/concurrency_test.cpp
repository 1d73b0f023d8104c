// Commands, proc writes, opens and an unbind at the same time: nothing may
// reach an entry being freed or a manager that is gone.
#include <atomic>
#include <thread>

#include "env_test.h"

using namespace envtest;

namespace {

class Concurrency : public BoundDriver {};

TEST_F(Concurrency, CommandsProcWritesAndUnbind)
{
    std::atomic<bool> unbound{false};
    std::atomic<int> commands{0};
    auto until_unbound = [&](auto step) {
        // Keep going a while after the unbind, so late callers are covered.
        for (int after = 0; after < 50;) {
            step();
            commands++;
            if (unbound)
                after++;
        }
    };

    std::vector<std::thread> threads;
    for (const char *value : {"10.0.0.3", ""}) { // change and delete race each other
        threads.emplace_back([&, value] {
            user_memory<uboot_env_record> set(record("serverip", value));
            user_memory<uboot_env_record> get(record("serverip"));
            until_unbound([&] {
                long ret = ioctl(UENV_IOC_SET, set.arg());
                EXPECT_TRUE(ret == 0 || ret == -ENODEV) << ret;
                ret = ioctl(UENV_IOC_GET, get.arg());
                EXPECT_TRUE(ret == 0 || ret == -ENOENT || ret == -ENODEV) << ret;
            });
        });
    }
    threads.emplace_back([&] {
        until_unbound([&] {
            for (const char *text : {"g serverip", "d"}) {
                user_memory<char[16]> buf;
                std::strcpy(buf.value, text);
                int ret = hk::proc_write("driver/uenv", buf.value, std::strlen(text));
                EXPECT_TRUE(ret == int(std::strlen(text)) || ret == -ENOENT) << ret;
            }
        });
    });
    threads.emplace_back([&] {
        until_unbound([&] {
            file *f = nullptr;
            int ret = hk::open("env", &f);
            EXPECT_TRUE(ret == 0 || ret == -ENODEV) << ret;
            if (!ret) {
                user_memory<std::uint32_t> count;
                long counted = hk::ioctl(f, UENV_IOC_COUNT, count.arg());
                EXPECT_TRUE(counted == 0 || counted == -ENODEV) << counted;
                EXPECT_EQ(0, hk::close(f));
            }
        });
    });

    while (commands < 2000)
        std::this_thread::yield();
    hk::unbind(uenv_host_device());
    unbound = true;
    for (std::thread &t : threads)
        t.join();

    EXPECT_EQ(nullptr, uenv_host_uhandle());
    EXPECT_EQ(nullptr, hk::find_misc("env"));
}

} // namespace

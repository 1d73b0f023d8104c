// Loading, binding, unbinding and unloading the module: what a probe builds,
// and that every failure takes down all it had built.
#include "env_test.h"

using namespace envtest;

namespace {

uboot_env_manager *bound_manager() { return uenv_host_bound_manager(); }

class Lifecycle : public KernelTest {
protected:
    void TearDown() override
    {
        cleanup_module();
        EXPECT_EQ(0u, hk::live_allocations()) << "leaked";
    }

    // Nothing of the probe survives a failure; the module stays loaded.
    void expect_unbound()
    {
        EXPECT_FALSE(hk::bound(uenv_host_device()));
        EXPECT_EQ(nullptr, hk::find_misc("env"));
        EXPECT_FALSE(hk::proc_exists("driver/uenv"));
        EXPECT_EQ(0u, hk::live_allocations());
        EXPECT_EQ(nullptr, uenv_host_uhandle());
    }

    std::vector<hk::board_call_kind> board_call_kinds()
    {
        std::vector<hk::board_call_kind> kinds;
        for (const hk::board_call &call : hk::board_calls())
            kinds.push_back(call.kind);
        return kinds;
    }
};

using hk::board_call_kind;

TEST_F(Lifecycle, ErasedFlashGetsTheRectifiedDefaultWrittenOnce)
{
    ASSERT_EQ(0, init_module());
    ASSERT_TRUE(hk::bound(uenv_host_device()));
    EXPECT_EQ((std::vector<board_call_kind>{board_call_kind::read, board_call_kind::notify,
                                            board_call_kind::write}),
              board_call_kinds());

    std::string log = log_text();
    EXPECT_NE(std::string::npos, log.find("env from flash error"));
    EXPECT_NE(std::string::npos, log.find("env from uboot error"));
    EXPECT_NE(std::string::npos,
              log.find(info("uboot bootargs rectify -> (mem=42M console=ttyS0,115200n8)")));
    EXPECT_TRUE(std::regex_search(
        log, std::regex("\\[K\\] UbootEnv module: built on [A-Z][a-z]{2} +\\d{1,2} \\d{4} at "
                        "\\d\\d:\\d\\d:\\d\\d\\.\n")));

    block flash = flash_block();
    EXPECT_EQ(zlib_crc(flash), stored_crc(flash));
    EXPECT_EQ(flash, g_env());
    EXPECT_EQ(15u, uenv_host_count(bound_manager()));
    EXPECT_STREQ("mem=42M console=ttyS0,115200n8", uenv_host_value(bound_manager(), 0));
    EXPECT_NE(nullptr, hk::find_misc("env"));
    EXPECT_EQ(0100644u, hk::proc_mode("driver/uenv"));
}

TEST_F(Lifecycle, SecondBootOfTheSameFlashWritesNothing)
{
    ASSERT_EQ(0, init_module());
    cleanup_module();
    block written = flash_block();
    hk::clear_board_calls();
    hk::clear_log();

    ASSERT_EQ(0, init_module());
    EXPECT_EQ(std::vector<board_call_kind>{board_call_kind::read}, board_call_kinds());
    EXPECT_EQ(written, flash_block());
    EXPECT_EQ(std::string::npos, log_text().find("Warning"));
}

TEST_F(Lifecycle, BootLoaderCopyIsUsedWhenFlashIsBad)
{
    // As if built in: the boot tag filled g_env before the probe.
    block boot = make_block(strings({{"bootargs", "console=ttyS0,115200n8"}, {"from", "tag"}}));
    std::memcpy(uenv_host_g_env(), boot.data(), boot.size());
    ASSERT_EQ(0, init_module());
    EXPECT_EQ(boot, flash_block());
    EXPECT_STREQ("tag", uenv_host_value(bound_manager(), 1));
}

// Short of memory before the list is complete, the probe fails and releases
// everything; inside the console rewrite it serves the environment unchanged.
TEST_F(Lifecycle, OutOfMemoryAnywhereInTheProbeReleasesOrServes)
{
    for (unsigned nth = 1;; nth++) {
        SCOPED_TRACE(nth);
        hk::reset();
        hk::fail_allocation(nth);
        ASSERT_EQ(0, init_module()) << "a failed probe does not fail the load";
        hk::fail_allocation(0);
        std::string log = hk::log();
        if (hk::bound(uenv_host_device())) {
            if (log.find("bootargs rectify failed(-22)!") == std::string::npos)
                break; // the probe needed fewer allocations
            EXPECT_EQ(15u, uenv_host_count(bound_manager()));
            EXPECT_STREQ("mem=42M console=ttyS0,115200", uenv_host_value(bound_manager(), 0));
            EXPECT_NE(nullptr, hk::find_misc("env"));
        } else {
            expect_unbound();
            EXPECT_NE(std::string::npos, log.find("failed with error -12\n"));
        }
        cleanup_module();
    }
}

TEST_F(Lifecycle, EachFailingStepReportsAndReleases)
{
    struct failure {
        const char *what;
        void (*arrange)();
        std::string message;
        int code;
    } const failures[] = {
        {"manager", [] { hk::fail_allocation(1); },
         error("uboot_env_probe", "Alloc uboot_env_manager failed !"), -ENOMEM},
        {"tmp_env", [] { hk::fail_allocation(2); },
         error("uboot_env_probe", "Alloc tmp_env failed !"), -ENOMEM},
        {"flash read", [] { hk::fail_flash_read(1, -EIO); },
         error("uboot_env_read", "Flash media checking read[2f000] failed!") +
             error("uboot_env_probe", "Uboot env read fail[-5]."),
         -EIO},
        {"no flash device", [] { hk::remove_flash(); },
         error("uboot_env_probe", "Uboot env read fail[-19]."), -ENODEV},
        {"parse", [] { hk::fail_allocation(3); },
         error("uboot_env_probe", "Parse uboot env failed(-12)!"), -ENOMEM},
        {"misc registration", [] { hk::fail_next_misc_register(-EBUSY); },
         error("uboot_env_probe", "Register misc driver failed(-16)!"), -EBUSY},
        {"proc creation", [] { hk::fail_next_proc_create(); },
         error("uboot_env_probe", "uboot_env_probe() Unable to create proc for ubootenv "),
         -ENODEV},
    };
    for (const failure &f : failures) {
        SCOPED_TRACE(f.what);
        hk::reset();
        f.arrange();
        ASSERT_EQ(0, init_module());
        expect_unbound();
        std::string log = log_text();
        EXPECT_NE(std::string::npos, log.find(f.message)) << log;
        // The driver core is silent about -ENODEV.
        std::string core = "probe of kel_uenv.0 failed with error " + std::to_string(f.code);
        EXPECT_EQ(f.code != -ENODEV, log.find(core) != std::string::npos);
        cleanup_module();
    }
}

// Each leaves the environment as it was loaded, and /dev/env serves it: it
// is the only way to read or repair the environment from Linux.
TEST_F(Lifecycle, FailedConsoleRewriteStillServesTheEnvironment)
{
    // 4091 bytes of strings: the longer console does not fit.
    const std::string nearly_full =
        "console=ttyS0,9600 pad=" + std::string(data_size - 34, 'p');
    struct failure {
        const char *what;
        entries flash;
        void (*arrange)();
        std::string message;
    } const failures[] = {
        {"no bootargs", {{"bootcmd", "bootm"}}, [] {},
         info("Cannot find keyword bootargs ") +
             error("uboot_bootargs_rectify", "uboot_env_get failed -2 ")},
        {"foreign console", {{"bootargs", "console=ttyAMA0,115200"}}, [] {},
         error("uboot_env_uart_set", "invalid bootargs!") +
             error("uboot_bootargs_rectify", "config env uart in bootargs failed")},
        {"no room to grow", {{"bootargs", nearly_full}}, [] {},
         warning("uboot_env_set", "set bootargs: no room, 4095 of 4091 bytes!") +
             error("uboot_bootargs_rectify", "update env failed!")},
        {"flash write", {{"bootargs", "console=ttyS0,115200"}},
         [] { hk::fail_flash_write(1, -EROFS); },
         error("uboot_env_write", "Flash media checking write[2f000] failed!") +
             error("uboot_bootargs_rectify", "update env failed!")},
    };
    for (const failure &f : failures) {
        SCOPED_TRACE(f.what);
        hk::reset();
        put_flash_block(make_block(strings(f.flash)));
        f.arrange();
        ASSERT_EQ(0, init_module());
        ASSERT_TRUE(hk::bound(uenv_host_device()));
        std::string log = log_text();
        EXPECT_NE(std::string::npos,
                  log.find(f.message + error("uboot_env_probe", "bootargs rectify failed(-22)!")))
            << log;
        EXPECT_NE(std::string::npos, log.find("UbootEnv module: built on"));
        EXPECT_TRUE(hk::proc_exists("driver/uenv"));

        file *env = nullptr;
        ASSERT_EQ(0, hk::open("env", &env));
        user_memory<std::uint32_t> count;
        EXPECT_EQ(0, hk::ioctl(env, UENV_IOC_COUNT, count.arg()));
        EXPECT_EQ(f.flash.size(), count.value);
        // The repair: a bootargs the rewriter knows.
        user_memory<uboot_env_record> repair(record("bootargs", "console=ttyS0,115200n8"));
        EXPECT_EQ(0, hk::ioctl(env, UENV_IOC_SET, repair.arg()));
        EXPECT_EQ(0, hk::close(env));
        cleanup_module();
    }
}

// A bootargs too long for the record: the probe rewrites the console and
// keeps the rest whole, or leaves the value alone; an unchanged block is
// not written.
TEST_F(Lifecycle, LongBootargsIsNeverCut)
{
    const std::string mtdparts =
        " mtdparts=physmap-flash.0:256k(boot)ro,64k(env),2m(kernel),8m(rootfs),-(data)";
    const std::string tail = mtdparts + " root=/dev/mtdblock3 rootfstype=jffs2 " +
                             std::string(180, 'x') + " init=/sbin/init";
    struct boot {
        const char *what;
        std::string bootargs, expected;
        int writes;
        std::string message;
    } const boots[] = {
        {"console right", "mem=42M console=ttyS0,115200n8" + tail,
         "mem=42M console=ttyS0,115200n8" + tail, 0, ""},
        {"console to rewrite", "mem=42M console=ttyS1,9600" + tail,
         "mem=42M console=ttyS0,115200n8" + tail, 1, ""},
        {"console beyond the first 256", "mem=42M" + tail + " console=ttyS1,9600",
         "mem=42M" + tail + " console=ttyS1,9600", 0,
         warning("uboot_bootargs_rectify", "bootargs: no console in the first 256 of its " +
                                               std::to_string(7 + tail.size() + 19) +
                                               " characters, left as it is")},
        // Short enough for the record, too long once the spec has grown.
        {"growing past 256", "console=ttyS0,9600 " + std::string(230, 'y') + " root=/dev/mtdblock3",
         "console=ttyS0,115200n8 " + std::string(230, 'y') + " root=/dev/mtdblock3", 1, ""},
    };
    for (const boot &b : boots) {
        SCOPED_TRACE(b.what);
        ASSERT_GE(b.bootargs.size(), 250u);
        hk::reset();
        put_flash_block(make_block(strings({{"bootargs", b.bootargs}, {"bootcmd", "bootm"}})));
        ASSERT_EQ(0, init_module());
        ASSERT_TRUE(hk::bound(uenv_host_device()));
        EXPECT_EQ(b.expected, uenv_host_value(bound_manager(), 0));
        std::vector<board_call_kind> kinds = board_call_kinds();
        EXPECT_EQ(b.writes, std::count(kinds.begin(), kinds.end(), board_call_kind::write));
        EXPECT_EQ(make_block(strings({{"bootargs", b.expected}, {"bootcmd", "bootm"}})),
                  flash_block());
        EXPECT_NE(std::string::npos, log_text().find(b.message)) << log_text();
        cleanup_module();
    }
}

// What U-Boot and fw_printenv read is what counts: strings left behind the
// end of the environment, or padding of 0xff, are not worth a flash write.
TEST_F(Lifecycle, FlashHoldingTheSameEnvironmentIsNotRewritten)
{
    const std::string live = strings({{"bootargs", "mem=42M console=ttyS0,115200n8"},
                                      {"serverip", "10.0.0.9"}});
    for (const block &b : {make_block(live + '\0' + "serverip=192.168.1.66" + '\0'),
                           make_block(live + '\0', 0xff)}) {
        hk::reset();
        put_flash_block(b);
        ASSERT_EQ(0, init_module());
        EXPECT_EQ(std::vector<board_call_kind>{board_call_kind::read}, board_call_kinds());
        EXPECT_EQ(2u, uenv_host_count(bound_manager()));
        EXPECT_STREQ("10.0.0.9", uenv_host_value(bound_manager(), 1));
        EXPECT_EQ(b, flash_block());
        EXPECT_EQ(make_block(live), g_env());
        cleanup_module();
    }
}

TEST_F(Lifecycle, UnbindTakesDownWhatTheProbeBuiltAndRebindBuildsItAgain)
{
    ASSERT_EQ(0, init_module());
    hk::unbind(uenv_host_device());
    expect_unbound();
    EXPECT_EQ(nullptr, bound_manager());

    ASSERT_EQ(0, hk::bind(uenv_host_device()));
    EXPECT_NE(nullptr, hk::find_misc("env"));
    EXPECT_TRUE(hk::proc_exists("driver/uenv"));
}

TEST_F(Lifecycle, FailedDeviceRegistrationFailsTheLoad)
{
    hk::fail_next_platform_device_register(-ENOMEM);
    EXPECT_EQ(-ENOMEM, init_module());
    EXPECT_EQ(error("uboot_env_init", "[UBOOT_ENV] device register failed !"), log_text());
}

TEST_F(Lifecycle, FailedDriverRegistrationTakesTheDeviceBack)
{
    hk::fail_next_platform_driver_register(-EBUSY);
    EXPECT_EQ(-EBUSY, init_module());
    // The device would still be registered if the load had left it behind.
    EXPECT_EQ(0, init_module());
    EXPECT_TRUE(hk::bound(uenv_host_device()));
}

} // namespace

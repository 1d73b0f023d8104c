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

TEST_F(Lifecycle, OutOfMemoryAnywhereInTheProbeReleasesEverything)
{
    for (unsigned nth = 1;; nth++) {
        hk::reset();
        hk::fail_allocation(nth);
        ASSERT_EQ(0, init_module()) << "a failed probe does not fail the load";
        if (hk::bound(uenv_host_device()))
            break;
        expect_unbound();
        // Inside the console rewrite every failure is -EINVAL.
        EXPECT_TRUE(std::regex_search(hk::log(), std::regex("failed with error -(12|22)\n")))
            << nth;
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
        {"no bootargs",
         [] { put_flash_block(make_block(strings({{"bootcmd", "bootm"}}))); },
         info("Cannot find keyword bootargs ") +
             error("uboot_bootargs_rectify", "uboot_env_get failed -2 ") +
             error("uboot_env_probe", "bootargs rectify failed(-22)!"),
         -EINVAL},
        {"flash write", [] { hk::fail_flash_write(1, -EROFS); },
         error("uboot_bootargs_rectify", "update env failed!") +
             error("uboot_env_probe", "bootargs rectify failed(-22)!"),
         -EINVAL},
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

// The console setting inside "bootargs": what is recognised, what replaces
// it, and that every search and copy stays inside the 256-byte field.
#include "env_test.h"

using namespace envtest;

namespace {

uboot_serial_config serial(std::uint32_t baud, std::uint8_t bits, std::uint8_t parity,
                           std::uint8_t flow, std::uint8_t port)
{
    uboot_serial_config cfg{};
    cfg.mode = UENV_SERIAL_MODE_SERIAL;
    cfg.baud = baud;
    cfg.data_bits = bits;
    cfg.parity = parity;
    cfg.flow = flow;
    cfg.port = port;
    return cfg;
}

uboot_serial_config terminal(std::uint8_t port)
{
    uboot_serial_config cfg = serial(115200, 8, 0, 0, port);
    cfg.mode = UENV_SERIAL_MODE_TTY;
    return cfg;
}

const uboot_serial_config board_default = serial(115200, 8, 0, 0, 0);

class Rewriter : public KernelTest {
protected:
    // The rewritten value, or the error code when the rewrite fails (the
    // record must then be unchanged).
    std::string rewrite(const std::string &value, const uboot_serial_config &cfg)
    {
        uboot_env_record rec = record("bootargs", value);
        uboot_env_record before = rec;
        int ret = uenv_host_uart_set(&rec, &cfg);
        if (ret) {
            EXPECT_EQ(0, std::memcmp(&before, &rec, sizeof(rec))) << "changed on failure";
            return "error " + std::to_string(ret);
        }
        return value_of(rec);
    }
};

TEST_F(Rewriter, Examples)
{
    struct example {
        const char *before;
        uboot_serial_config cfg;
        const char *after;
    } const examples[] = {
        {"mem=42M console=ttyS0,115200", board_default, "mem=42M console=ttyS0,115200n8"},
        {"mem=42M console=ttyS0,115200n8", board_default, "mem=42M console=ttyS0,115200n8"},
        {"mem=42M console=ttyS0,115200n8", serial(9600, 7, 2, 2, 1),
         "mem=42M console=ttyS1,9600e7r"},
        {"mem=42M console=ttyS1,9600e7r", terminal(3), "mem=42M console=tty3"},
        {"console=tty3 mem=42M", board_default, "console=ttyS0,115200n8 mem=42M"},
        {"console=ttyS0,115200n8r mem=42M", board_default, "console=ttyS0,115200n8 mem=42M"},
    };
    for (const example &e : examples)
        EXPECT_EQ(e.after, rewrite(e.before, e.cfg)) << e.before;
    EXPECT_EQ("", hk::log());
}

TEST_F(Rewriter, WhatFollowsTheSpeedDecidesWhereTheTailBegins)
{
    EXPECT_EQ("console=ttyS0,115200n8 quiet", rewrite("console=ttyS0,115200 quiet", board_default));
    EXPECT_EQ("console=ttyS0,115200n8x", rewrite("console=ttyS0,9600x", board_default));
    EXPECT_EQ("console=ttyS0,115200n8 ro", rewrite("console=ttyS3, fast 9600o5 ro", board_default));
    EXPECT_EQ("console=ttyS0,115200n82", rewrite("console=tty12", board_default));
}

TEST_F(Rewriter, ValueWithoutTtyIsRefused)
{
    EXPECT_EQ("error -22", rewrite("mem=42M console=null", board_default));
    EXPECT_EQ(error("uboot_env_uart_set", "invaild bootargs found!"), log_text());
}

TEST_F(Rewriter, UnrecognisedSpecsAreRefused)
{
    for (const char *value :
         {"console=ttyS0 quiet", "console=ttyS10,115200", "console=ttyX0", "console=tty",
          "console=ttyS0,115200n9", "console=ttyS0,115200n", "console=ttyS0,",
          "root=/dev/ttyfoo console=ttyS0,115200"}) {
        hk::clear_log();
        EXPECT_EQ("error -22", rewrite(value, board_default)) << value;
        EXPECT_EQ(error("uboot_env_uart_set", "invalid bootargs!"), log_text()) << value;
    }
}

TEST_F(Rewriter, ShorterSpecLeavesZerosToTheEndOfTheField)
{
    uboot_env_record rec = record("bootargs", "console=ttyS1,9600e7r rw");
    uboot_serial_config cfg = terminal(3);
    ASSERT_EQ(0, uenv_host_uart_set(&rec, &cfg));
    std::string expected = "console=tty3 rw";
    expected.resize(sizeof(rec.value), '\0');
    EXPECT_EQ(expected, std::string(rec.value, sizeof(rec.value)));
}

TEST_F(Rewriter, LongerSpecKeepsWhatFitsInTheField)
{
    std::string head(200, 'h');
    std::string value = head + " console=tty3 " + std::string(42, 't'); // 256, no NUL
    ASSERT_EQ(256u, value.size());
    uboot_env_record rec = record("bootargs", value);
    uboot_serial_config cfg = board_default;
    ASSERT_EQ(0, uenv_host_uart_set(&rec, &cfg));
    std::string expected = (head + " console=ttyS0,115200n8 " + std::string(42, 't')).substr(0, 256);
    EXPECT_EQ(expected, std::string(rec.value, sizeof(rec.value)));
}

TEST_F(Rewriter, SpecThatCannotFitIsRefused)
{
    std::string value = std::string(240, 'x') + "console=tty3" + "yyyy"; // tty at 248
    EXPECT_EQ("error -22", rewrite(value, board_default));
    // The same spec one place earlier ends exactly at the field's end.
    value = std::string(234, 'x') + "console=tty3";
    EXPECT_EQ(std::string(234, 'x') + "console=ttyS0,115200n8", rewrite(value, board_default));
}

TEST_F(Rewriter, FieldWithoutTerminatorIsSearchedOnlyInside)
{
    // "tt" at the field's end followed by "y" in memory after it is no tty.
    uboot_env_record rec[2] = {record("bootargs", std::string(254, 'x') + "tt"),
                               record("y", "")};
    uboot_serial_config cfg = board_default;
    EXPECT_EQ(-EINVAL, uenv_host_uart_set(&rec[0], &cfg));
    EXPECT_EQ(error("uboot_env_uart_set", "invaild bootargs found!"), log_text());
}

TEST_F(Rewriter, NullArgumentsAndNoMemory)
{
    uboot_env_record rec = record("bootargs", "console=ttyS0,115200");
    uboot_serial_config cfg = board_default;
    EXPECT_EQ(-EINVAL, uenv_host_uart_set(nullptr, &cfg));
    EXPECT_EQ(-EINVAL, uenv_host_uart_set(&rec, nullptr));
    EXPECT_EQ("", hk::log());

    hk::fail_allocation(1);
    EXPECT_EQ("error -12", rewrite("console=ttyS0,115200", board_default));
    EXPECT_EQ(0u, hk::live_allocations());
}

class SerialCommand : public BoundDriver {
protected:
    long send(const uboot_serial_config &cfg)
    {
        user_memory<uboot_serial_config> arg(cfg);
        return ioctl(UENV_IOC_SERIAL, arg.arg());
    }
    std::string bootargs()
    {
        user_memory<uboot_env_record> rec(record("bootargs"));
        EXPECT_EQ(0, ioctl(UENV_IOC_GET, rec.arg()));
        return value_of(rec.value);
    }
};

TEST_F(SerialCommand, InvalidConfigurationsChangeNothing)
{
    std::vector<uboot_serial_config> invalid;
    uboot_serial_config cfg = board_default;
    cfg.mode = 2;
    invalid.push_back(cfg);
    for (std::uint8_t bits : {4, 9})
        invalid.push_back(serial(115200, bits, 0, 0, 0));
    invalid.push_back(serial(115200, 8, 3, 0, 0));
    invalid.push_back(serial(115200, 8, 0, 3, 0));
    invalid.push_back(serial(115200, 8, 0, 0, 4));
    for (std::uint32_t baud : {0u, 110u, 115201u, 230400u})
        invalid.push_back(serial(baud, 8, 0, 0, 0));
    cfg = terminal(1);
    cfg.baud = 14400; // unused by the terminal form, still checked
    invalid.push_back(cfg);

    for (const uboot_serial_config &bad : invalid) {
        hk::clear_log();
        EXPECT_EQ(-EINVAL, send(bad));
        EXPECT_EQ(error("uboot_env_fops_ioctl", "invaild para for serial config"), log_text());
    }
    EXPECT_EQ(0, flash_writes());
    EXPECT_EQ("mem=42M console=ttyS0,115200n8", bootargs());
}

TEST_F(SerialCommand, EdgeValuesAreAcceptedAndStored)
{
    uboot_serial_config cfg = serial(300, 5, 1, 1, 3);
    cfg.reserved1 = 0xff;
    cfg.reserved2[2] = 0xff;
    EXPECT_EQ(0, send(cfg));
    EXPECT_EQ("mem=42M console=ttyS3,300o5", bootargs());
    EXPECT_EQ(0, send(serial(76800, 8, 2, 2, 0)));
    EXPECT_EQ("mem=42M console=ttyS0,76800e8r", bootargs());
    EXPECT_EQ(2, flash_writes());
    EXPECT_EQ(make_block(strings({{"bootargs", "mem=42M console=ttyS0,76800e8r"},
                                  {"bootcmd", "bootm"},
                                  {"serverip", "10.0.0.2"},
                                  {"ethaddr", "00:1c:27:4b:00:01"}})),
              flash_block());
}

// The record carries 256 characters; the rest of a longer bootargs stays.
TEST_F(SerialCommand, LongBootargsKeepsItsEnd)
{
    const std::string tail = " mtdparts=physmap-flash.0:256k(boot)ro,64k(env),-(root) " +
                             std::string(220, 'x') + " root=/dev/mtdblock2";
    put_flash_block(make_block(strings({{"bootargs", "console=ttyS0,115200n8" + tail}})));
    hk::unbind(uenv_host_device());
    ASSERT_EQ(0, hk::close(env));
    ASSERT_EQ(0, hk::bind(uenv_host_device()));
    ASSERT_EQ(0, hk::open("env", &env));

    EXPECT_EQ(0, send(serial(9600, 7, 2, 2, 1)));
    EXPECT_EQ(make_block(strings({{"bootargs", "console=ttyS1,9600e7r" + tail}})),
              flash_block());
}

TEST_F(SerialCommand, WithoutBootargsTheLookupFails)
{
    user_memory<uboot_env_record> del(record("bootargs", ""));
    ASSERT_EQ(0, ioctl(UENV_IOC_SET, del.arg()));
    hk::clear_log();
    EXPECT_EQ(-ENOENT, send(board_default));
    EXPECT_EQ(info("Cannot find keyword bootargs ") +
                  error("uboot_env_fops_ioctl", "get env key bootargs failed"),
              log_text());
}

} // namespace

// /proc/driver/uenv: the dump of g_env, look-ups through the last opened
// manager, the banner, and the limits of a command line.
#include "env_test.h"

using namespace envtest;

namespace {

class Proc : public BoundDriver {
protected:
    int write(const std::string &text)
    {
        std::vector<char> buf(text.begin(), text.end());
        buf.push_back('\0'); // never part of the write
        hk::map_user(buf.data(), text.size());
        int ret = hk::proc_write("driver/uenv", buf.data(), text.size());
        hk::unmap_user(buf.data());
        return ret;
    }
};

TEST_F(Proc, DumpShowsGEnvAsWordsFourToALine)
{
    ASSERT_EQ(2, write("d\n"));
    block env = g_env();
    std::string expected = "\n=================dump env buf=================\n";
    char word[16];
    for (std::size_t i = 0; i <= 4080; i += 4) {
        std::snprintf(word, sizeof(word), "%08x ", unsigned(env[i] | env[i + 1] << 8 |
                                                            env[i + 2] << 16 | env[i + 3] << 24));
        expected += word;
        if (i % 16 == 12)
            expected += "\n";
    }
    expected += "\n=====================end====================\n";
    EXPECT_EQ(expected, hk::log());

    // The CRC word first, then text byte-reversed within words.
    std::snprintf(word, sizeof(word), "%08x ", stored_crc(env));
    EXPECT_EQ(word, hk::log().substr(48, 9));
    EXPECT_EQ("746f6f62 ", hk::log().substr(57, 9)); // "boot"
}

TEST_F(Proc, OnlyTheFirstCharacterOfTheTrimmedLineCounts)
{
    ASSERT_EQ(8, write("  dump \t"));
    EXPECT_NE(std::string::npos, hk::log().find("dump env buf"));
}

TEST_F(Proc, LookupNeedsAnOpenOfTheDevice)
{
    ASSERT_EQ(0, hk::close(env));
    env = nullptr;
    hk::unbind(uenv_host_device());
    ASSERT_EQ(0, hk::bind(uenv_host_device())); // a new manager nobody opened
    hk::clear_log();

    ASSERT_EQ(10, write("g bootargs"));
    EXPECT_EQ(info("please :cat /dev/env "), hk::log());

    ASSERT_EQ(0, hk::open("env", &env));
    hk::clear_log();
    ASSERT_EQ(11, write("g bootargs\n"));
    EXPECT_EQ(info("bootargs =mem=42M console=ttyS0,115200n8"), hk::log());
}

TEST_F(Proc, LookupOfAnAbsentKey)
{
    write("g nosuch");
    EXPECT_EQ(info("Cannot find keyword nosuch ") +
                  error("env_proc_write", "uboot_env_get failed -2 "),
              log_text());
    hk::clear_log();
    write("get bootargs"); // the second character is the separator
    EXPECT_EQ(0u, hk::log().find(info("Cannot find keyword t bootargs ")));
}

TEST_F(Proc, AnythingElsePrintsTheBanner)
{
    ASSERT_EQ(1, write("x"));
    EXPECT_TRUE(std::regex_match(
        hk::log(), std::regex("\\[K\\] This module: built on [A-Z][a-z]{2} +\\d{1,2} \\d{4} at "
                              "\\d\\d:\\d\\d:\\d\\d\\.\n\\[K\\] \\[x\\]: you are seeing it\n")));
}

TEST_F(Proc, CommandLinesAreAtMost63Bytes)
{
    std::string longest = "g " + std::string(61, 'k');
    EXPECT_EQ(63, write(longest));
    EXPECT_NE(std::string::npos, hk::log().find("Cannot find keyword " + std::string(61, 'k')));
    hk::clear_log();
    EXPECT_EQ(-EFAULT, write(longest + "k"));
    EXPECT_EQ("", hk::log());
}

TEST_F(Proc, UnreadableBufferIsReported)
{
    char buf[8] = "d";
    EXPECT_EQ(-EFAULT, hk::proc_write("driver/uenv", buf, 1)); // not user memory
    EXPECT_EQ(error("env_proc_write", "copy_from_user err!"), log_text());
}

TEST_F(Proc, ReadingGivesNothing)
{
    std::string out = "unchanged";
    EXPECT_EQ(0, hk::proc_read("driver/uenv", &out));
    EXPECT_EQ("unchanged", out);
}

// Another process may write the moment the entry appears: it finds the
// handlers and the manager there already.
TEST_F(KernelTest, ProcFileWorksFromTheMomentItIsVisible)
{
    hk::write_proc_when_visible("driver/uenv", "d\n");
    ASSERT_EQ(0, init_module());
    EXPECT_EQ(2, hk::write_when_visible_result());
    EXPECT_NE(std::string::npos, hk::log().find("=================dump env buf"));
    cleanup_module();
    EXPECT_EQ(0u, hk::live_allocations());
}

} // namespace

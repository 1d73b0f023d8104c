// The environment block: CRC, the choice among flash, boot loader copy and
// default, parse, serialize, the boot tag and releasing the list.
#include "env_test.h"

using namespace envtest;

namespace {

const entries default_entries = {
    {"bootargs", "mem=42M console=ttyS0,115200"},
    {"bootcmd", "tftp 0x80400000 $(bootfile);bootm 0x80400000;"},
    {"default", "cramfsload 0x80400000 uImage;cramfsload 0x80800000 ramdisk.gz"},
    {"sec", "tftp 0x80400000 uImage_sec;tftp 0x80800000 ramdisk.gz;bootm 0x80400000 "
            "0x80800000;"},
    {"phyaddr0", "9"},
    {"verify", "n"},
    {"bootdelay", "1"},
    {"baudrate", "115200"},
    {"mdio_intf", "mii"},
};

TEST(Crc, IsIeeeCrc32OfTheDataArea)
{
    block erased;
    erased.fill(0xff);
    EXPECT_EQ(0x6e909c7cu, uenv_host_crc(erased.data()));
    block zero{};
    EXPECT_EQ(0x603b0489u, uenv_host_crc(zero.data()));

    block text = make_block("a=1");
    text[0] ^= 0xff; // the stored word is not part of it
    EXPECT_EQ(zlib_crc(text), uenv_host_crc(text.data()));
}

class Select : public KernelTest {};

TEST_F(Select, ValidFlashCopyWinsSilently)
{
    block flash = make_block(strings({{"a", "1"}}));
    block boot = make_block(strings({{"b", "2"}}));
    block work = flash;
    uenv_host_select(work.data(), boot.data());
    EXPECT_EQ(flash, work);
    EXPECT_EQ("", hk::log());
}

TEST_F(Select, BadFlashFallsBackToBootLoaderCopy)
{
    block work;
    work.fill(0xff); // erased flash
    block boot = make_block(strings({{"b", "2"}}));
    uenv_host_select(work.data(), boot.data());
    EXPECT_EQ(boot, work);
    EXPECT_EQ(warning("uboot_env_probe",
                      "*** Warning - env from flash error, using default environment "
                      "from uboot. CRC 6e909c7c != ffffffff"),
              log_text());
}

TEST_F(Select, BothBadGiveTheDefault)
{
    block work = make_block("a=1");
    work[4] = 'b'; // corrupt
    block boot{};  // no boot tag received
    uenv_host_select(work.data(), boot.data());

    EXPECT_EQ(default_block(), work);
    EXPECT_EQ(zlib_crc(work), stored_crc(work));
    std::string log = log_text();
    EXPECT_NE(std::string::npos, log.find("env from flash error"));
    EXPECT_NE(std::string::npos,
              log.find(warning("uboot_env_probe",
                               "*** Warning - env from uboot error, using default "
                               "environment. CRC 603b0489 != 0")));
}

TEST(DefaultEnvironment, HoldsFifteenStringsAndThreeZerosAtTheEnd)
{
    std::size_t size;
    const char *data = uenv_host_default_environment(&size);
    ASSERT_GE(size, 3u);
    EXPECT_EQ(std::string(3, '\0'), std::string(data + size - 3, 3));
    EXPECT_NE('\0', data[size - 4]);
}

class Parse : public StoreTest {
protected:
    entries parse(const std::string &data)
    {
        if (m)
            uenv_host_manager_delete(m);
        load(make_block(data));
        return list();
    }
};

TEST_F(Parse, DefaultBlockGivesItsEntriesInOrder)
{
    load(default_block());
    entries env = list();
    ASSERT_EQ(15u, env.size());
    EXPECT_EQ(default_entries, entries(env.begin(), env.begin() + 9));
    EXPECT_EQ("ethaddr", env[9].first);
    EXPECT_TRUE(std::regex_match(env[9].second,
                                 std::regex("([0-9a-f]{2}:){5}[0-9a-f]{2}")));
    EXPECT_EQ("netmask", env[13].first);
    EXPECT_EQ("255.255.255.0", env[13].second);
    EXPECT_EQ((std::pair<std::string, std::string>{"bootfile", "uImage"}), env[14]);
}

// As for U-Boot: the first empty string ends the environment. Tools that
// delete in place leave old strings behind it, under a valid CRC.
TEST_F(Parse, TheFirstEmptyStringEndsTheEnvironment)
{
    EXPECT_EQ((entries{{"a", "1"}}), parse(std::string("a=1\0\0\0b=2\0", 10)));
    EXPECT_EQ((entries{{"serverip", "10.0.0.9"}}),
              parse(std::string("serverip=10.0.0.9\0\0serverip=192.168.1.66\0", 42)));
    EXPECT_EQ(entries{}, parse(std::string("\0a=1\0", 5)));
}

TEST_F(Parse, TheBlockIsLeftAsItIs)
{
    block b = make_block(std::string("a=1\0b=x=y\0", 10));
    block before = b;
    m = uenv_host_manager_new();
    ASSERT_EQ(0, uenv_host_parse(m, b.data()));
    EXPECT_EQ(before, b);
}

TEST_F(Parse, EmptyKeysEmptyValuesAndDuplicatesAreKept)
{
    EXPECT_EQ((entries{{"k", ""}, {"", "x"}, {"k", "a=b=c"}}),
              parse(std::string("k=\0=x\0k=a=b=c\0", 14)));
}

TEST_F(Parse, AllZeroDataIsAnEmptyEnvironment)
{
    EXPECT_EQ(entries{}, parse(""));
    EXPECT_EQ(0u, uenv_host_count(m));
}

TEST_F(Parse, StringWithoutEqualsIsSkippedAndSplitsNothingLater)
{
    EXPECT_EQ((entries{{"a", "1"}, {"b", "2"}}),
              parse(std::string("junk\0a=1\0more junk\0b=2\0", 23)));
}

TEST_F(Parse, ErasedPaddingAfterTheStringsIsNotAnEntry)
{
    block b = make_block(std::string("a=1\0\0", 5), 0xff);
    load(b);
    EXPECT_EQ((entries{{"a", "1"}}), list());
}

TEST_F(Parse, UnterminatedLastStringEndsAtTheDataArea)
{
    std::string data(data_size, 'v');
    data.replace(0, 4, "key=");
    EXPECT_EQ((entries{{"key", std::string(data_size - 4, 'v')}}), parse(data));
}

TEST_F(Parse, EqualsAsTheLastByteMakesNoEntry)
{
    std::string data(data_size, 'k');
    data.replace(0, 4, std::string("a=1\0", 4));
    data.back() = '=';
    EXPECT_EQ((entries{{"a", "1"}}), parse(data));
}

TEST_F(Parse, OutOfMemoryReleasesEverything)
{
    // Three allocations per entry: a fault at any of them fails cleanly.
    for (unsigned nth = 1; nth <= 6; nth++) {
        block b = make_block(strings({{"a", "1"}, {"b", "2"}}));
        uboot_env_manager *fresh = uenv_host_manager_new();
        hk::fail_allocation(nth);
        EXPECT_EQ(-ENOMEM, uenv_host_parse(fresh, b.data())) << "allocation " << nth;
        EXPECT_EQ(0u, uenv_host_length(fresh));
        uenv_host_manager_delete(fresh);
        EXPECT_EQ(0u, hk::live_allocations());
    }
}

class Serialize : public StoreTest {};

TEST_F(Serialize, EmptyListIsAZeroDataArea)
{
    load(entries{});
    block out{};
    uenv_host_serialize(m, out.data());
    EXPECT_EQ(make_block(""), out);
    EXPECT_EQ(0x603b0489u, stored_crc(out));
}

TEST_F(Serialize, RoundTripKeepsEntriesAndOrder)
{
    entries env = {{"z", "last"}, {"a", "x=y"}, {"", "empty key"}, {"e", ""}, {"z", "dup"}};
    load(env);
    block out{};
    uenv_host_serialize(m, out.data());
    EXPECT_EQ(make_block(strings(env)), out);

    uenv_host_manager_delete(m);
    m = nullptr;
    load(out);
    EXPECT_EQ(env, list());
}

TEST_F(Serialize, EntriesOfExactly4092BytesFillTheDataArea)
{
    std::string value(data_size - 3, 'v'); // "k=" + value + NUL = 4092
    load(entries{{"k", value}});
    block out{};
    uenv_host_serialize(m, out.data());
    EXPECT_EQ("k=" + value + '\0', data_of(out));
    EXPECT_EQ(zlib_crc(out), stored_crc(out));
}

TEST_F(Serialize, EntriesBeyondTheDataAreaAreNeverWrittenPastIt)
{
    // Not reachable through the store, which refuses such sets first.
    std::string last(data_size, 'v');
    last.replace(0, 2, "k=");
    load(make_block(std::string("a=1\0", 4) + last));
    ASSERT_EQ(2u, uenv_host_count(m));
    block out{};
    uenv_host_serialize(m, out.data());
    EXPECT_EQ(make_block(std::string("a=1\0", 4)), out);
}

class BootTag : public KernelTest {
protected:
    // A tag list: one tag with words of payload, then the end tag.
    std::vector<std::uint32_t> tags(std::uint32_t size, const block &payload)
    {
        std::vector<std::uint32_t> words(size + 2, 0);
        words[0] = size;
        words[1] = 0x564a05b2;
        if (size > 2)
            std::memcpy(&words[2], payload.data(),
                        std::min<std::size_t>(std::size_t(size - 2) * 4, payload.size()));
        return words;
    }
    void parse(std::vector<std::uint32_t> list)
    {
        hk::parse_tags(reinterpret_cast<const tag *>(list.data()));
    }
};

TEST_F(BootTag, FullTagFillsGEnv)
{
    block payload = make_block(strings({{"from", "uboot"}}));
    parse(tags(1026, payload));
    EXPECT_EQ(payload, g_env());
}

TEST_F(BootTag, ShortPayloadLeavesTheRestZero)
{
    std::memset(uenv_host_g_env(), 0x55, UENV_HOST_BLOCK_SIZE);
    block payload;
    payload.fill(0xab);
    parse(tags(4, payload)); // 8 bytes of payload
    block expected{};
    std::memset(expected.data(), 0xab, 8);
    EXPECT_EQ(expected, g_env());
}

TEST_F(BootTag, TagWithoutPayloadChangesNothing)
{
    std::memset(uenv_host_g_env(), 0x55, UENV_HOST_BLOCK_SIZE);
    parse(tags(2, block{}));
    EXPECT_EQ("tag->hdr.size <= 2\n", hk::log());
    block expected;
    expected.fill(0x55);
    EXPECT_EQ(expected, g_env());
}

TEST_F(StoreTest, ReleasingTwiceOrThroughNullIsHarmless)
{
    load(entries{{"a", "1"}});
    EXPECT_EQ(0, uenv_host_free_list(m));
    EXPECT_EQ(0, uenv_host_free_list(m));
    EXPECT_EQ(0u, uenv_host_length(m));
    EXPECT_EQ(-EFAULT, uenv_host_free_null());
}

} // namespace

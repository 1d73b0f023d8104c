// Blocks made by U-Boot's own mkenvimage (Debian's u-boot-tools) and blocks
// the driver writes must be the same thing.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "env_test.h"

using namespace envtest;

namespace {

const entries variables = {
    {"bootargs", "mem=42M console=ttyS0,115200n8 root=/dev/mtdblock2 rw"},
    {"bootcmd", "tftp 0x80400000 $(bootfile);bootm 0x80400000;"},
    {"serverip", "10.0.0.2"},
    {"equation", "a=b=c"},
    {"update_ip", ""},
    {"device_type", "K200"},
};

class Mkenvimage : public StoreTest {
protected:
    std::string dir;

    void SetUp() override
    {
        StoreTest::SetUp();
        char name[] = "/tmp/uenv-interop-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(name));
        dir = name;
    }
    void TearDown() override
    {
        std::system(("rm -rf " + dir).c_str());
        StoreTest::TearDown();
    }

    block mkenvimage(const entries &env, const std::string &options)
    {
        std::string text = "# written by the interop test\n\n";
        for (const auto &[key, value] : env)
            text.append(key).append("=").append(value).append("\n");
        std::ofstream(dir + "/env.txt") << text;
        std::string command = "mkenvimage -s 4096 " + options + " -o " + dir +
                              "/env.bin " + dir + "/env.txt";
        EXPECT_EQ(0, std::system(command.c_str())) << command;
        std::ifstream in(dir + "/env.bin", std::ios::binary);
        std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
        block b{};
        EXPECT_EQ(b.size(), bytes.size());
        std::memcpy(b.data(), bytes.data(), std::min(b.size(), bytes.size()));
        return b;
    }
};

TEST_F(Mkenvimage, ItsBlocksParseIntoTheSameEntries)
{
    block image = mkenvimage(variables, ""); // padded with 0xff, as on flash
    EXPECT_EQ(zlib_crc(image), stored_crc(image));
    EXPECT_EQ(uenv_host_crc(image.data()), stored_crc(image));
    load(image);
    EXPECT_EQ(variables, list());
}

TEST_F(Mkenvimage, DriverBlocksAreByteIdenticalToZeroPaddedImages)
{
    load(variables);
    block ours{};
    uenv_host_serialize(m, ours.data());
    EXPECT_EQ(mkenvimage(variables, "-p 0"), ours);
}

} // namespace

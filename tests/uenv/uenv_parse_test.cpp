#include <gtest/gtest.h>

#include "test_support.h"

namespace {

struct parsed {
	arguments args;
	uenv::command cmd;
	captured err;
	int status;

	explicit parsed(std::vector<std::string> words)
		: args(std::move(words)),
		  status(uenv::parse_command_line(args.argc(), args.argv(), cmd, err.file))
	{
	}
	std::string value() const { return std::string(cmd.value, cmd.value_length); }
};

TEST(UenvParse, CommandDeviceAndHelp)
{
	parsed none({});
	EXPECT_EQ(none.status, uenv::exit_ok);
	EXPECT_EQ(none.cmd.what, uenv::action::list);
	EXPECT_STREQ(none.cmd.device_path, "/dev/env");

	parsed after({"get", "--device=/tmp/e2", "-n", "serverip"});
	EXPECT_EQ(after.status, uenv::exit_ok);
	EXPECT_STREQ(after.cmd.device_path, "/tmp/e2");
	EXPECT_TRUE(after.cmd.value_only);

	parsed help({"serial", "--port", "1", "-h", "--bogus"});
	EXPECT_EQ(help.status, uenv::exit_ok);
	EXPECT_EQ(help.cmd.what, uenv::action::help);
}

TEST(UenvParse, StatusOfEachBadCommandLine)
{
	const std::string k63(63, 'k'), k64(64, 'k');
	struct {
		std::vector<std::string> words;
		int status;
	} const cases[] = {
		{{"show"}, uenv::exit_usage},
		{{"--device"}, uenv::exit_usage},
		{{"list", "serverip"}, uenv::exit_usage},
		{{"get"}, uenv::exit_usage},
		{{"get", "-x", "serverip"}, uenv::exit_usage},
		{{"get", "-n", "serverip", "bootcmd"}, uenv::exit_usage},
		{{"get", "serverip", "-n"}, uenv::exit_usage},
		{{"set"}, uenv::exit_usage},
		{{"set", "a=b", "c"}, uenv::exit_usage},
		{{"get", k63}, uenv::exit_ok},
		{{"get", "serverip", k64}, uenv::exit_too_long},
		{{"set", k64, "v"}, uenv::exit_too_long},
		// bootargs=VALUE and its NUL fill the block's 4091 bytes, one more does not fit.
		{{"set", "bootargs", std::string(2040, 'a'), std::string(2040, 'b')}, uenv::exit_ok},
		{{"set", "bootargs", std::string(2040, 'a'), std::string(2041, 'b')}, uenv::exit_too_long},
		{{"serial", "--baud"}, uenv::exit_usage},
		{{"serial", "ttyS1"}, uenv::exit_usage},
		{{"serial", "--tty", "1", "--baud", "9600"}, uenv::exit_usage},
		{{"serial", "--port", "4"}, uenv::exit_invalid_serial},
		{{"serial", "--port", "260"}, uenv::exit_invalid_serial},	// no wrap to 4
		{{"serial", "--bits", "261"}, uenv::exit_invalid_serial},	// nor to 5
		{{"serial", "--bits", "4"}, uenv::exit_invalid_serial},
		{{"serial", "--baud", "1234"}, uenv::exit_invalid_serial},
		{{"serial", "--baud", "-9600"}, uenv::exit_invalid_serial},
		{{"serial", "--parity", "no"}, uenv::exit_invalid_serial},
		{{"serial", "--tty", "4"}, uenv::exit_invalid_serial},
	};
	for (const auto &c : cases) {
		parsed p(c.words);
		EXPECT_EQ(p.status, c.status) << c.words.at(0) << " " << c.words.back().substr(0, 9);
		EXPECT_EQ(p.err.text().empty(), c.status == uenv::exit_ok);
	}
}

TEST(UenvParse, GetAndSetWords)
{
	parsed dashed({"get", "--", "-n"});
	ASSERT_EQ(dashed.status, uenv::exit_ok);
	EXPECT_FALSE(dashed.cmd.value_only);
	ASSERT_EQ(dashed.cmd.key_count, 1u);
	EXPECT_STREQ(dashed.cmd.keys[0], "-n");

	// After the key every word is value, joined by one blank each.
	parsed set({"set", "--device", "/tmp/env", "bootargs", "mem=42M", "a  b", "-n", "--help"});
	ASSERT_EQ(set.status, uenv::exit_ok);
	EXPECT_EQ(set.cmd.what, uenv::action::set);
	EXPECT_STREQ(set.cmd.keys[0], "bootargs");
	EXPECT_EQ(set.value(), "mem=42M a  b -n --help");

	parsed full({"set", "bootargs", std::string(127, 'a'), std::string(128, 'b')});
	ASSERT_EQ(full.status, uenv::exit_ok);
	EXPECT_EQ(full.value(), std::string(127, 'a') + " " + std::string(128, 'b'));

	parsed deletion({"set", "serverip"});
	ASSERT_EQ(deletion.status, uenv::exit_ok);
	EXPECT_EQ(deletion.cmd.value_length, 0u);
}

TEST(UenvParse, SerialRecord)
{
	auto same = [](const uboot_serial_config &a, const uboot_serial_config &b) {
		return std::memcmp(&a, &b, sizeof a) == 0;
	};
	parsed defaults({"serial"});
	ASSERT_EQ(defaults.status, uenv::exit_ok);
	EXPECT_TRUE(same(defaults.cmd.serial, {0, 115200, 8, 0, 0, 0, 0, {}}));

	parsed all({"serial", "--port", "1", "--baud=9600", "--parity", "e", "--bits", "7", "--rts"});
	ASSERT_EQ(all.status, uenv::exit_ok);
	EXPECT_TRUE(same(all.cmd.serial, {0, 9600, 7, 0, 2, UENV_FLOW_RTSCTS, 1, {}}));

	// The terminal form still carries valid serial fields.
	parsed tty({"serial", "--tty", "3"});
	ASSERT_EQ(tty.status, uenv::exit_ok);
	EXPECT_TRUE(same(tty.cmd.serial, {1, 115200, 8, 0, 0, 0, 3, {}}));
}

TEST(UenvSerialRules, TestedInTheDriversOrder)
{
	using uenv::serial_rule;
	struct {
		uboot_serial_config config;
		serial_rule broken;
	} const cases[] = {
		{{2, 115200, 8, 0, 0, 0, 0, {}}, serial_rule::mode},
		{{0, 0, 9, 0, 3, 3, 4, {}}, serial_rule::data_bits},
		{{0, 0, 8, 0, 3, 3, 4, {}}, serial_rule::parity},
		{{0, 0, 8, 0, 0, 3, 4, {}}, serial_rule::flow},
		{{0, 0, 8, 0, 0, 0, 4, {}}, serial_rule::port},
		{{1, 0, 8, 0, 0, 0, 0, {}}, serial_rule::baud},
		{{0, 300, 5, 0, 0, 1, 3, {}}, serial_rule::valid},
		{{1, 76800, 8, 0xff, 2, 2, 0, {0xff, 0xff, 0xff}}, serial_rule::valid},
	};
	for (const auto &c : cases)
		EXPECT_EQ(uenv::check_serial_config(c.config), c.broken) << c.config.baud;
}

} // namespace

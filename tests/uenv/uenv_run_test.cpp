#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <regex>

#include "test_support.h"

namespace {

class UenvRun : public ::testing::Test {
protected:
	fake_env_device device;
	captured out;
	captured err;

	int run(std::vector<std::string> words)
	{
		arguments args(std::move(words));
		uenv::command cmd;
		int status = uenv::parse_command_line(args.argc(), args.argv(), cmd, err.file);
		if (status != uenv::exit_ok)
			return status;
		return uenv::run_command(cmd, device.env(), out.file, err.file);
	}
};

TEST_F(UenvRun, ListAndGetPrintFullFieldsWithoutTerminators)
{
	const std::string key(64, 'k'), value(256, 'v');
	device.entries = {{"bootcmd", "run boot"}, {key, value}, {"empty", ""}};
	EXPECT_EQ(run({}), uenv::exit_ok);
	EXPECT_EQ(out.text(), "bootcmd=run boot\n" + key + "=" + value + "\nempty=\n");

	device.entries = {{"bootargs", value}, {"serverip", "10.0.0.2"}};
	EXPECT_EQ(run({"get", "-n", "bootargs"}), uenv::exit_ok);
	EXPECT_EQ(run({"get", "serverip", "nothing", "bootargs"}), uenv::exit_key_absent);
	EXPECT_EQ(out.text(), "bootcmd=run boot\n" + key + "=" + value + "\nempty=\n" + value +
		  "\nserverip=10.0.0.2\nbootargs=" + value + "\n");
	EXPECT_EQ(err.text(), "uenv: nothing: not in the environment\n");

	// Longer than any record: whole, through the list and alone.
	const std::string command_line(1000, 'c');
	device.entries = {{"bootargs", command_line}};
	captured whole;
	arguments args({"get", "-n", "bootargs"});
	uenv::command cmd;
	ASSERT_EQ(uenv::parse_command_line(args.argc(), args.argv(), cmd, err.file), uenv::exit_ok);
	EXPECT_EQ(uenv::run_command(cmd, device.env(), whole.file, err.file), uenv::exit_ok);
	uenv::command list;
	EXPECT_EQ(uenv::run_command(list, device.env(), whole.file, err.file), uenv::exit_ok);
	EXPECT_EQ(whole.text(), command_line + "\nbootargs=" + command_line + "\n");
}

TEST_F(UenvRun, ListFollowsAnEnvironmentChangingMeanwhile)
{
	device.entries = {{"a", "1"}, {"b", "2"}, {"c", "3"}};
	device.before_get = [this] {
		device.before_get = nullptr;
		device.entries.erase(device.entries.begin() + 1);
	};
	EXPECT_EQ(run({}), uenv::exit_ok);
	EXPECT_EQ(out.text(), "a=1\nc=3\n");
}

TEST_F(UenvRun, SetSendsTheJoinedValueAndDeletesOnlyWhatIsThere)
{
	EXPECT_EQ(run({"set", "bootargs", std::string(200, 'a'), std::string(55, 'b')}),
		  uenv::exit_ok);
	ASSERT_EQ(device.sets.size(), 1u);
	EXPECT_STREQ(device.sets[0].key, "bootargs");
	EXPECT_EQ(std::string(device.sets[0].value, UENV_VALUE_LEN),
		  std::string(200, 'a') + " " + std::string(55, 'b'));

	EXPECT_EQ(run({"set", "bootargs"}), uenv::exit_ok);
	ASSERT_EQ(device.sets.size(), 2u);
	EXPECT_EQ(device.sets[1].value[0], '\0');
	EXPECT_TRUE(device.entries.empty());

	// The driver would store "update_ip=" rather than delete nothing.
	EXPECT_EQ(run({"set", "update_ip"}), uenv::exit_ok);
	EXPECT_EQ(device.sets.size(), 2u);
	EXPECT_TRUE(device.entries.empty());

	// Longer than a record: the whole value, as a change set of one.
	EXPECT_EQ(run({"set", "bootargs", std::string(600, 'a'), std::string(399, 'b')}),
		  uenv::exit_ok);
	EXPECT_EQ(device.sets.size(), 2u);
	EXPECT_EQ(device.entries, (std::vector<std::pair<std::string, std::string>>{
		{"bootargs", std::string(600, 'a') + " " + std::string(399, 'b')}}));
}

TEST_F(UenvRun, DeviceErrorsHaveTheirOwnExitStatus)
{
	device.entries = {{"ethaddr", "00:11:22:33:44:55"}};
	EXPECT_EQ(run({"set", "ethaddr", "x"}), uenv::exit_read_only);
	EXPECT_NE(err.text().find("ethaddr: read-only key; only serverip, bootargs, device_type, "
				  "identification and update_ip can be changed\n"),
		  std::string::npos);
	// Deleting a read-only key that is absent is no success either.
	EXPECT_EQ(run({"set", "bootcmd2"}), uenv::exit_read_only);
	EXPECT_NE(err.text().find("bootcmd2: read-only key"), std::string::npos);

	struct {
		int error;
		std::vector<std::string> words;
		int status;
	} const cases[] = {
		{ENOSPC, {"set", "serverip", "x"}, uenv::exit_env_full},
		{ENOSPC, {"serial", "--rts"}, uenv::exit_env_full},
		{ENODEV, {"list"}, uenv::exit_device_gone},
		{ENODEV, {"get", "ethaddr"}, uenv::exit_device_gone},
		{ENODEV, {"set", "serverip", "x"}, uenv::exit_device_gone},
		{ENODEV, {"serial"}, uenv::exit_device_gone},
		{EIO, {"set", "serverip", "x"}, uenv::exit_failure},
		{ENOTTY, {"list"}, uenv::exit_failure},
		{EINVAL, {"serial"}, uenv::exit_invalid_serial},
		{ENOENT, {"serial"}, uenv::exit_key_absent},
	};
	for (const auto &c : cases) {
		device.failure = c.error;
		EXPECT_EQ(run(c.words), c.status) << std::strerror(c.error) << ", " << c.words[0];
	}
}

TEST_F(UenvRun, SerialSendsTheRecord)
{
	EXPECT_EQ(run({"serial", "--port", "2", "--baud", "57600", "--rts"}), uenv::exit_ok);
	ASSERT_EQ(device.serials.size(), 1u);
	EXPECT_EQ(device.serials[0].port, 2);
	EXPECT_EQ(device.serials[0].baud, 57600u);
	EXPECT_EQ(device.serials[0].flow, UENV_FLOW_RTSCTS);
}

// The whole program, with the real device code on paths that are no /dev/env.
TEST(UenvMain, ExitStatusesOfTheProgram)
{
	captured out, err;
	auto uenv_main = [&](std::vector<std::string> words, FILE *output) {
		arguments args(std::move(words));
		return uenv::uenv_main(args.argc(), args.argv(), output, err.file);
	};
	EXPECT_EQ(uenv_main({"--help"}, out.file), uenv::exit_ok);
	EXPECT_NE(out.text().find("Exit status:"), std::string::npos);

	EXPECT_EQ(uenv_main({"--device", "/nonexistent/env"}, out.file), uenv::exit_no_device);
	EXPECT_NE(err.text().find("cannot open /nonexistent/env"), std::string::npos);
	// Refused before anything is opened.
	EXPECT_EQ(uenv_main({"--device", "/nonexistent/env", "serial", "--baud", "7"}, out.file),
		  uenv::exit_invalid_serial);
	EXPECT_EQ(uenv_main({"--device", "/nonexistent/env", "set", "serverip",
			     std::string(4082, 'a')}, out.file),
		  uenv::exit_too_long);

	char path[] = "/tmp/uenv-test-XXXXXX";
	int fd = mkstemp(path);
	ASSERT_GE(fd, 0);
	close(fd);
	EXPECT_EQ(uenv_main({"--device", path, "get", "serverip"}, out.file), uenv::exit_failure);
	EXPECT_NE(err.text().find("not an environment device"), std::string::npos);
	unlink(path);

	FILE *full = std::fopen("/dev/full", "w");
	ASSERT_NE(full, nullptr);
	EXPECT_EQ(uenv_main({"--help"}, full), uenv::exit_failure);
	EXPECT_NE(err.text().find("cannot write the output"), std::string::npos);
	std::fclose(full);
}

// The README's table of exit statuses is the program's own list.
TEST(UenvReadme, ExitStatusTableIsTheProgramsList)
{
	std::ifstream readme(UENV_README);
	ASSERT_TRUE(readme) << UENV_README;
	std::string line;
	while (std::getline(readme, line) && line != "### `uenv`")
		;
	std::vector<std::string> rows;
	const std::regex row(R"(\| ([0-9]+) \| (.*) \|)");
	std::smatch match;
	while (std::getline(readme, line) && line.rfind("#", 0) != 0) {
		if (std::regex_match(line, match, row))
			rows.push_back(match[1].str() + " " + match[2].str());
	}
	std::vector<std::string> statuses;
	for (const uenv::exit_status_info &status : uenv::exit_statuses)
		statuses.push_back(std::to_string(status.status) + " " + status.meaning);
	EXPECT_EQ(rows, statuses);
}

} // namespace

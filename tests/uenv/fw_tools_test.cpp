// fw_printenv and fw_setenv: their command lines as U-Boot's tools read
// them, scripts, and what reaches the device.
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using uenv::fw_tool;

class FwTools : public ::testing::Test {
protected:
	fake_env_device device;
	captured out;
	captured err;

	int run(fw_tool tool, const std::vector<std::string> &words, const std::string &script = "")
	{
		arguments args(words, uenv::fw_tool_name(tool));
		uenv::fw_command cmd;
		int status = uenv::parse_fw_command_line(tool, args.argc(), args.argv(), cmd,
							 err.file);
		if (status != uenv::exit_ok)
			return status;
		EXPECT_FALSE(cmd.help || cmd.version);
		if (cmd.script != nullptr) {
			status = uenv::check_fw_script(script.data(), script.size(), err.file);
			if (status != uenv::exit_ok)
				return status;
		}
		return uenv::run_fw_command(cmd, script.data(), script.size(), device.env(),
					    out.file, err.file);
	}
	int printenv(const std::vector<std::string> &words) { return run(fw_tool::printenv, words); }
	int setenv(const std::vector<std::string> &words, const std::string &script = "")
	{
		return run(fw_tool::setenv, words, script);
	}
	std::vector<std::pair<std::string, std::string>> environment()
	{
		return device.entries;
	}
};

using entry_list = std::vector<std::pair<std::string, std::string>>;

TEST_F(FwTools, PrintenvListsOrPrintsTheNames)
{
	device.entries = {{"serverip", "10.0.0.2"}, {"bootcmd", "bootm"}, {"empty", ""}};
	EXPECT_EQ(printenv({}), uenv::exit_ok);
	EXPECT_EQ(out.text(), "serverip=10.0.0.2\nbootcmd=bootm\nempty=\n");

	EXPECT_EQ(printenv({"bootcmd", "serverip"}), uenv::exit_ok);
	EXPECT_EQ(printenv({"-n", "serverip"}), uenv::exit_ok);
	EXPECT_EQ(printenv({"-n", "serverip", "bootcmd"}), uenv::exit_ok);
	// Options may follow the names, as getopt takes them.
	EXPECT_EQ(printenv({"serverip", "--no-header"}), uenv::exit_ok);
	EXPECT_EQ(out.text(), "serverip=10.0.0.2\nbootcmd=bootm\nempty=\n"
		  "bootcmd=bootm\nserverip=10.0.0.2\n10.0.0.2\n10.0.0.2\nbootm\n10.0.0.2\n");
	EXPECT_EQ(err.text(), "");
}

// What Debian's fw_printenv (libubootenv 0.3.2) does: an undefined name
// prints "NAME=", or an empty line with -n, and the status stays 0; -n
// without names lists with the names.
TEST_F(FwTools, PrintenvUndefinedNamesAreEmptyAndNoFailure)
{
	device.entries = {{"serverip", "10.0.0.2"}, {"bootcmd", "bootm"}};
	EXPECT_EQ(printenv({"nosuch"}), uenv::exit_ok);
	EXPECT_EQ(printenv({"serverip", "nosuch", "bootcmd"}), uenv::exit_ok);
	EXPECT_EQ(printenv({"-n", "nosuch"}), uenv::exit_ok);
	EXPECT_EQ(printenv({"-n", "nosuch", "serverip"}), uenv::exit_ok);
	EXPECT_EQ(printenv({"-n"}), uenv::exit_ok);
	// Names no key can have are in no environment either.
	EXPECT_EQ(printenv({"a=b", "", std::string(70, 'k'), "--", "-n"}), uenv::exit_ok);
	EXPECT_EQ(out.text(), "nosuch=\nserverip=10.0.0.2\nnosuch=\nbootcmd=bootm\n\n\n10.0.0.2\n"
		  "serverip=10.0.0.2\nbootcmd=bootm\n"
		  "a=b=\n=\n" + std::string(70, 'k') + "=\n-n=\n");
	EXPECT_EQ(err.text(), "");
}

TEST_F(FwTools, PrintenvDeviceErrors)
{
	device.failure = ENODEV;
	EXPECT_EQ(printenv({}), uenv::exit_device_gone);
	EXPECT_EQ(printenv({"serverip"}), uenv::exit_device_gone);
	device.failure = ENOTTY;
	EXPECT_EQ(printenv({"serverip"}), uenv::exit_failure);
	EXPECT_EQ(err.text(),
		  "fw_printenv: /dev/env: list: the driver was unbound from the device\n"
		  "fw_printenv: /dev/env: get serverip: the driver was unbound from the device\n"
		  "fw_printenv: /dev/env: get serverip: not an environment device\n");
}

TEST_F(FwTools, FlashLayoutOptionsAreNotedAndUnknownOnesSkipped)
{
	device.entries = {{"serverip", "10.0.0.2"}};
	EXPECT_EQ(printenv({"-c", "/etc/fw_env.config", "--defenv=env.txt", "-l/var/lock",
			    "-x", "--verbose", "serverip"}), uenv::exit_ok);
	EXPECT_EQ(out.text(), "serverip=10.0.0.2\n");
	EXPECT_EQ(err.text(),
		  "fw_printenv: -c /etc/fw_env.config ignored: through /dev/env, the driver "
		  "knows where the environment lies in flash\n"
		  "fw_printenv: -f env.txt ignored: through /dev/env, the driver has its own "
		  "default environment\n"
		  "fw_printenv: -l /var/lock ignored: through /dev/env, the driver serialises "
		  "changes without a lock file\n"
		  "fw_printenv: invalid option -- 'x'\n"
		  "fw_printenv: unrecognized option '--verbose'\n");
}

TEST_F(FwTools, OptionsAsGetoptReadsThem)
{
	struct {
		fw_tool tool;
		std::vector<std::string> words;
		int status;
		std::string messages;
	} const cases[] = {
		// Grouped, with the value attached or in the next word.
		{fw_tool::printenv, {"-nc", "fw.config", "serverip"}, uenv::exit_ok,
		 "fw_printenv: -c fw.config ignored"},
		{fw_tool::printenv, {"-ncfw.config", "serverip"}, uenv::exit_ok,
		 "fw_printenv: -c fw.config ignored"},
		// Long names may be shortened.
		{fw_tool::printenv, {"--conf", "x", "--no", "serverip"}, uenv::exit_ok,
		 "fw_printenv: -c x ignored"},
		{fw_tool::printenv, {"-c"}, uenv::exit_usage,
		 "fw_printenv: option requires an argument -- 'c'\nTry 'fw_printenv -h'.\n"},
		{fw_tool::setenv, {"--script"}, uenv::exit_usage,
		 "fw_setenv: option '--script' requires an argument\nTry 'fw_setenv -h'.\n"},
		{fw_tool::printenv, {"--help=x", "serverip"}, uenv::exit_ok,
		 "fw_printenv: option '--help' doesn't allow an argument\n"},
		{fw_tool::printenv, {"-s", "script", "serverip"}, uenv::exit_ok,
		 "fw_printenv: -s script ignored: scripts are for fw_setenv\n"},
		{fw_tool::setenv, {"-n", "serverip", "1"}, uenv::exit_ok,
		 "fw_setenv: -n ignored: it is for fw_printenv\n"},
	};
	device.entries = {{"serverip", "10.0.0.2"}};
	for (const auto &c : cases) {
		captured messages;
		arguments args(c.words, uenv::fw_tool_name(c.tool));
		uenv::fw_command cmd;
		int status = uenv::parse_fw_command_line(c.tool, args.argc(), args.argv(), cmd,
							 messages.file);
		EXPECT_EQ(status, c.status) << c.words[0];
		EXPECT_EQ(messages.text().rfind(c.messages, 0), 0u)
			<< c.words[0] << ": " << messages.text();
	}

	for (const char *word : {"-h", "--help", "--he", "-V", "--version"}) {
		arguments args({"serverip", word, "-x"}, "fw_printenv");
		uenv::fw_command cmd;
		EXPECT_EQ(uenv::parse_fw_command_line(fw_tool::printenv, args.argc(), args.argv(),
						      cmd, err.file), uenv::exit_ok);
		EXPECT_TRUE(cmd.help != cmd.version) << word;
	}
	EXPECT_EQ(err.text(), "");	// nothing after -h or -V is read
}

TEST_F(FwTools, SetenvJoinsTheWordsAndDeletesWithoutThem)
{
	EXPECT_EQ(setenv({"serverip", "10.0.0.3"}), uenv::exit_ok);
	EXPECT_EQ(setenv({"bootargs", "mem=42M", "console=ttyS0,115200n8", "a  b"}), uenv::exit_ok);
	EXPECT_EQ(environment(), (entry_list{{"serverip", "10.0.0.3"},
					     {"bootargs", "mem=42M console=ttyS0,115200n8 a  b"}}));
	EXPECT_EQ(setenv({"serverip"}), uenv::exit_ok);
	EXPECT_EQ(setenv({"bootargs", ""}), uenv::exit_ok);
	EXPECT_TRUE(environment().empty());
	// Absent: nothing to do, and no "update_ip=" stored.
	EXPECT_EQ(setenv({"update_ip"}), uenv::exit_ok);
	EXPECT_EQ(device.sets.size(), 4u);
	// No words: nothing to do, as with U-Boot's fw_setenv.
	EXPECT_EQ(setenv({}), uenv::exit_ok);
	EXPECT_TRUE(device.requests.size() == 7u);
	EXPECT_EQ(err.text(), "");
}

TEST_F(FwTools, SetenvRefusals)
{
	device.entries = {{"ethaddr", "00:01"}};
	EXPECT_EQ(setenv({"ethaddr", "00:02"}), uenv::exit_read_only);
	EXPECT_EQ(setenv({"bootcmd"}), uenv::exit_read_only);
	EXPECT_EQ(setenv({"a=b", "1"}), uenv::exit_usage);
	EXPECT_EQ(setenv({"", "1"}), uenv::exit_usage);
	EXPECT_EQ(setenv({std::string(64, 'k'), "1"}), uenv::exit_too_long);
	EXPECT_EQ(setenv({"serverip", std::string(4000, 'a'), std::string(81, 'b')}),
		  uenv::exit_too_long);
	EXPECT_EQ(err.text(),
		  "fw_setenv: ethaddr: read-only key; only serverip, bootargs, device_type, "
		  "identification and update_ip can be changed\n"
		  "fw_setenv: bootcmd: read-only key; only serverip, bootargs, device_type, "
		  "identification and update_ip can be changed\n"
		  "fw_setenv: illegal character '=' in variable name \"a=b\"\n"
		  "fw_setenv: the name is empty\n"
		  "fw_setenv: name '" + std::string(64, 'k') + "' is 64 characters long; names "
		  "hold at most 63\n"
		  "fw_setenv: the value is 4082 characters long; with the name serverip, values hold "
		  "at most 4081\n");
	EXPECT_EQ(device.sets.size(), 1u);	// the driver refused ethaddr

	struct {
		int error;
		int status;
	} const cases[] = {
		{ENOSPC, uenv::exit_env_full},
		{ENODEV, uenv::exit_device_gone},
		{EBADF, uenv::exit_failure},
		{EIO, uenv::exit_failure},
	};
	for (const auto &c : cases) {
		device.failure = c.error;
		EXPECT_EQ(setenv({"serverip", "1"}), c.status) << std::strerror(c.error);
	}
}

TEST(FwScript, LinesOfBothForms)
{
	struct {
		std::string line;
		uenv::script_line::kind what;
		std::string name, value;
	} const cases[] = {
		{"serverip 10.0.0.7", uenv::script_line::change, "serverip", "10.0.0.7"},
		{"bootargs  mem=42M  console=ttyS0", uenv::script_line::change, "bootargs",
		 "mem=42M  console=ttyS0"},
		{"bootargs\t \tmem=42M\tx ", uenv::script_line::change, "bootargs", "mem=42M\tx "},
		{"  serverip 1", uenv::script_line::change, "serverip", "1"},
		{"serverip=10.0.0.7", uenv::script_line::change, "serverip", "10.0.0.7"},
		{"bootargs=console=ttyS0 root=/dev/mtdblock3", uenv::script_line::change,
		 "bootargs", "console=ttyS0 root=/dev/mtdblock3"},
		{"serverip= 1", uenv::script_line::change, "serverip", " 1"},
		{"serverip 1\r", uenv::script_line::change, "serverip", "1"},
		{"serverip", uenv::script_line::change, "serverip", ""},
		{"serverip \t", uenv::script_line::change, "serverip", ""},
		{"serverip=", uenv::script_line::change, "serverip", ""},
		{"", uenv::script_line::nothing, "", ""},
		{" \t", uenv::script_line::nothing, "", ""},
		{"\r", uenv::script_line::nothing, "", ""},
		{"# serverip 1", uenv::script_line::nothing, "", ""},
		{"  #serverip=1", uenv::script_line::nothing, "", ""},
		{"=1", uenv::script_line::empty_name, "", "1"},
		{std::string(64, 'k') + " 1", uenv::script_line::name_too_long, std::string(64, 'k'),
		 "1"},
		{"serverip " + std::string(4082, 'v'), uenv::script_line::value_too_long, "serverip",
		 std::string(4082, 'v')},
		{"serverip " + std::string(4081, 'v'), uenv::script_line::change, "serverip",
		 std::string(4081, 'v')},
	};
	for (const auto &c : cases) {
		uenv::script_line line = uenv::parse_script_line(c.line.data(), c.line.size());
		EXPECT_EQ(line.what, c.what) << c.line;
		if (line.what == uenv::script_line::nothing)
			continue;
		EXPECT_EQ(std::string(line.name, line.name_length), c.name) << c.line;
		EXPECT_EQ(std::string(line.value, line.value_length), c.value) << c.line;
	}
}

TEST(FwScript, EveryLineIsCheckedFirst)
{
	captured err;
	const std::string good = "# a comment\n\nserverip 1\nbootargs=x y\nupdate_ip\n";
	EXPECT_EQ(uenv::check_fw_script(good.data(), good.size(), err.file), uenv::exit_ok);
	const std::string no_newline = "serverip 1";
	EXPECT_EQ(uenv::check_fw_script(no_newline.data(), no_newline.size(), err.file),
		  uenv::exit_ok);
	const std::string bad = "serverip 1\n\n=2\n";
	EXPECT_EQ(uenv::check_fw_script(bad.data(), bad.size(), err.file), uenv::exit_usage);
	const std::string nul = std::string("serverip 1\nbootargs \0x\n", 24);
	EXPECT_EQ(uenv::check_fw_script(nul.data(), nul.size(), err.file), uenv::exit_usage);
	const std::string long_value = "#\nserverip " + std::string(4090, 'v') + "\n";
	EXPECT_EQ(uenv::check_fw_script(long_value.data(), long_value.size(), err.file),
		  uenv::exit_too_long);
	EXPECT_EQ(err.text(), "fw_setenv: script line 3: the name is empty\n"
		  "fw_setenv: script line 2 holds a NUL byte\n"
		  "fw_setenv: script line 2: the value is 4090 characters long; with the name "
		  "serverip, values hold at most 4081\n");
}

// A script is one change set: the driver gets all of its changes at once
// and applies them with one write, and a refusal anywhere changes nothing.
TEST_F(FwTools, ScriptIsAppliedWholeOrNotAtAll)
{
	device.entries = {{"serverip", "10.0.0.1"}, {"update_ip", "10.0.0.9"}};
	const std::string script = "# set up\nserverip 10.0.0.2\n\nbootargs=mem=42M console=ttyS0\n"
				   "update_ip\nidentification\n";
	EXPECT_EQ(setenv({"-s", "script.txt"}, script), uenv::exit_ok);
	const entry_list after = {{"serverip", "10.0.0.2"}, {"bootargs", "mem=42M console=ttyS0"}};
	EXPECT_EQ(environment(), after);
	ASSERT_EQ(device.change_sets.size(), 1u);
	EXPECT_EQ(device.change_sets[0], (entry_list{{"serverip", "10.0.0.2"},
						     {"bootargs", "mem=42M console=ttyS0"},
						     {"update_ip", ""}, {"identification", ""}}));
	EXPECT_TRUE(device.sets.empty());

	const std::string refused = "serverip 10.0.0.3\ndevice_type x1\nethaddr 00:02\n"
				    "update_ip 10.0.0.4\n";
	EXPECT_EQ(setenv({"--script=-"}, refused), uenv::exit_read_only);
	EXPECT_EQ(setenv({"-s", "-"}, "#\nethaddr 00:02\nserverip 1\n"), uenv::exit_read_only);
	EXPECT_EQ(environment(), after);
	const std::string refusal = "read-only key; only serverip, bootargs, device_type, "
				    "identification and update_ip can be changed\n";
	const std::string nothing = "fw_setenv: nothing was changed: a script is applied whole or "
				    "not at all\n";
	EXPECT_EQ(err.text(), "fw_setenv: line 3: ethaddr: " + refusal + nothing +
		  "fw_setenv: line 2: ethaddr: " + refusal + nothing);

	// What no one line caused, and a driver without change sets.
	captured more;
	arguments args({"-s", "-"}, "fw_setenv");
	uenv::fw_command cmd;
	ASSERT_EQ(uenv::parse_fw_command_line(fw_tool::setenv, args.argc(), args.argv(), cmd,
					      more.file), uenv::exit_ok);
	const std::string two = "serverip 1\nupdate_ip 2\n";
	device.failure = EIO;
	EXPECT_EQ(uenv::run_fw_command(cmd, two.data(), two.size(), device.env(), out.file,
				       more.file), uenv::exit_failure);
	device.failure = 0;
	device.lacking = whole_value_commands;
	EXPECT_EQ(uenv::run_fw_command(cmd, two.data(), two.size(), device.env(), out.file,
				       more.file), uenv::exit_failure);
	EXPECT_EQ(more.text(), "fw_setenv: /dev/env: script: flash read or write error\n" + nothing +
		  "fw_setenv: /dev/env: script: " + kelenv_strerror(-EOPNOTSUPP) + "\n" + nothing);
	EXPECT_EQ(environment(), after);

	// A bad line anywhere: nothing reaches the driver.
	device.change_sets.clear();
	EXPECT_EQ(setenv({"-s", "-"}, "serverip 1\n=x\n"), uenv::exit_usage);
	EXPECT_TRUE(device.change_sets.empty());
}

TEST_F(FwTools, ScriptWinsOverWords)
{
	EXPECT_EQ(setenv({"-s", "-", "serverip", "2"}, "serverip 1\n"), uenv::exit_ok);
	EXPECT_EQ(environment(), (entry_list{{"serverip", "1"}}));
	EXPECT_EQ(err.text(), "fw_setenv: with -s, the words 'serverip'... are ignored\n");
}

// The program's names, and what the whole program does without a device.
TEST(FwMain, TheNameChoosesTheTool)
{
	auto program = [](const char *name, std::vector<std::string> words, FILE *in, FILE *out,
			  FILE *err) {
		arguments args(std::move(words), name);
		return uenv::program_main(args.argc(), args.argv(), in, out, err);
	};
	for (const char *name : {"fw_printenv", "/usr/bin/fw_printenv", "fw_setenv", "./fw_setenv",
				 "uenv", "/tmp/fw_setenv.old"}) {
		captured out, err;
		EXPECT_EQ(program(name, {"-h"}, stdin, out.file, err.file), uenv::exit_ok);
		std::string tool = std::strstr(name, "fw_printenv") ? "fw_printenv"
				   : std::strstr(name, "fw_setenv.old") ? "uenv"
				   : std::strstr(name, "fw_setenv") ? "fw_setenv" : "uenv";
		EXPECT_EQ(out.text().rfind("Usage: " + tool + " ", 0), 0u) << name;
		EXPECT_NE(out.text().find("Exit status:\n  0  success\n"), std::string::npos);
	}

	captured out, err;
	EXPECT_EQ(program("fw_setenv", {"-V"}, stdin, out.file, err.file), uenv::exit_ok);
	EXPECT_EQ(out.text(), "fw_setenv (uenv) for the Kelmora board, through /dev/env\n");
	// Nothing to change: the device is not needed.
	EXPECT_EQ(program("fw_setenv", {}, stdin, out.file, err.file), uenv::exit_ok);
	EXPECT_EQ(err.text(), "");
	EXPECT_EQ(program("fw_printenv", {"serverip"}, stdin, out.file, err.file),
		  uenv::exit_no_device);
	EXPECT_EQ(program("fw_setenv", {"serverip", "1"}, stdin, out.file, err.file),
		  uenv::exit_no_device);
	EXPECT_EQ(err.text(), "fw_printenv: cannot open /dev/env: No such file or directory "
		  "(is the kelubootenv module loaded?)\n"
		  "fw_setenv: cannot open /dev/env: No such file or directory "
		  "(is the kelubootenv module loaded?)\n");

	// A script is read and checked before the device is opened.
	captured script_err;
	FILE *script = std::tmpfile();
	ASSERT_NE(script, nullptr);
	std::fputs("serverip 1\n=2\n", script);
	std::rewind(script);
	EXPECT_EQ(program("fw_setenv", {"-s", "-"}, script, out.file, script_err.file),
		  uenv::exit_usage);
	std::fclose(script);
	EXPECT_EQ(program("fw_setenv", {"-s", "/nonexistent/script"}, stdin, out.file,
			  script_err.file), uenv::exit_usage);
	EXPECT_EQ(script_err.text(), "fw_setenv: script line 2: the name is empty\n"
		  "fw_setenv: cannot open the script /nonexistent/script: No such file or "
		  "directory\n");

	FILE *full = std::fopen("/dev/full", "w");
	ASSERT_NE(full, nullptr);
	EXPECT_EQ(program("fw_printenv", {"-h"}, stdin, full, err.file), uenv::exit_failure);
	std::fclose(full);
}

} // namespace

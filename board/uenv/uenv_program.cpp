#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "uenv.h"

namespace uenv {
namespace {

// Output that never reached its file (a full disk, a closed pipe) is a
// failure, whatever the device said.
int finish_output(const char *name, FILE *out, FILE *err, int status)
{
	if (std::fflush(out) == 0 && !std::ferror(out))
		return status;
	std::fprintf(err, "%s: cannot write the output: %s\n", name, std::strerror(errno));
	return exit_failure;
}

int report_open_failure(const char *name, const char *path, int error, FILE *err)
{
	std::fprintf(err, "%s: cannot open %s: %s%s\n", name, path, std::strerror(-error),
		     error == -ENOENT ? " (is the kelubootenv module loaded?)" : "");
	return exit_no_device;
}

// A script is at most a few environments' worth of lines.
constexpr std::size_t max_script_size = 65536;

// Reads a whole fw_setenv script ("-": `in`) into `text` (malloc'ed).
int read_script(const char *path, FILE *in, char *&text, std::size_t &length, FILE *err)
{
	bool standard_input = std::strcmp(path, "-") == 0;
	FILE *file = standard_input ? in : std::fopen(path, "r");
	if (file == nullptr) {
		std::fprintf(err, "fw_setenv: cannot open the script %s: %s\n", path,
			     std::strerror(errno));
		return exit_usage;
	}
	text = static_cast<char *>(std::malloc(max_script_size + 1));
	length = text != nullptr ? std::fread(text, 1, max_script_size + 1, file) : 0;
	int status = exit_ok;
	if (text == nullptr) {
		std::fputs("fw_setenv: out of memory\n", err);
		status = exit_failure;
	} else if (std::ferror(file)) {
		std::fprintf(err, "fw_setenv: cannot read the script %s: %s\n", path,
			     std::strerror(errno));
		status = exit_usage;
	} else if (length > max_script_size) {
		std::fprintf(err, "fw_setenv: the script %s is longer than %zu bytes\n", path,
			     max_script_size);
		status = exit_usage;
	}
	if (!standard_input)
		std::fclose(file);
	return status;
}

} // namespace

int uenv_main(int argc, char *const argv[], FILE *out, FILE *err)
{
	command cmd;
	int status = parse_command_line(argc, argv, cmd, err);
	if (status != exit_ok)
		return status;
	if (cmd.what == action::help) {
		print_help(out);
		return finish_output("uenv", out, err, exit_ok);
	}

	// Read-only for list and get: the driver takes changes only through a
	// file opened for writing, so a node readable by all (0644) lets anyone
	// look and only its owner change.
	bool changes = cmd.what == action::set || cmd.what == action::serial;
	kelenv *env = nullptr;
	int error = kelenv_open(&env, cmd.device_path, changes ? O_RDWR : O_RDONLY);
	if (error != 0)
		return report_open_failure("uenv", cmd.device_path, error, err);
	status = run_command(cmd, env, out, err);
	kelenv_close(env);
	return finish_output("uenv", out, err, status);
}

int fw_main(fw_tool tool, int argc, char *const argv[], FILE *in, FILE *out, FILE *err)
{
	const char *name = fw_tool_name(tool);
	fw_command cmd;
	int status = parse_fw_command_line(tool, argc, argv, cmd, err);
	if (status != exit_ok)
		return status;
	if (cmd.help) {
		print_fw_help(tool, out);
		return finish_output(name, out, err, exit_ok);
	}
	if (cmd.version) {
		std::fprintf(out, "%s (uenv) for the Kelmora board, through " UENV_DEVICE_PATH "\n",
			     name);
		return finish_output(name, out, err, exit_ok);
	}
	bool changes = tool == fw_tool::setenv;
	if (changes && cmd.script == nullptr && cmd.name_count == 0)
		return exit_ok;	// nothing to change, as with U-Boot's fw_setenv

	// The whole script is read and checked before the first change.
	char *script = nullptr;
	std::size_t script_length = 0;
	if (cmd.script != nullptr) {
		status = read_script(cmd.script, in, script, script_length, err);
		if (status == exit_ok)
			status = check_fw_script(script, script_length, err);
		if (status != exit_ok) {
			std::free(script);
			return status;
		}
	}
	kelenv *env = nullptr;
	int error = kelenv_open(&env, UENV_DEVICE_PATH, changes ? O_RDWR : O_RDONLY);
	if (error != 0) {
		std::free(script);
		return report_open_failure(name, UENV_DEVICE_PATH, error, err);
	}
	status = run_fw_command(cmd, script, script_length, env, out, err);
	kelenv_close(env);
	std::free(script);
	return finish_output(name, out, err, status);
}

int program_main(int argc, char *const argv[], FILE *in, FILE *out, FILE *err)
{
	const char *called = argc > 0 && argv[0] != nullptr ? argv[0] : "uenv";
	const char *slash = std::strrchr(called, '/');
	const char *base = slash != nullptr ? slash + 1 : called;
	if (std::strcmp(base, "fw_printenv") == 0)
		return fw_main(fw_tool::printenv, argc, argv, in, out, err);
	if (std::strcmp(base, "fw_setenv") == 0)
		return fw_main(fw_tool::setenv, argc, argv, in, out, err);
	return uenv_main(argc, argv, out, err);
}

} // namespace uenv

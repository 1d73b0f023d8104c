#include <cerrno>
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

} // namespace uenv

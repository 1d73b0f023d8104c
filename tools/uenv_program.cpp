#include <cerrno>
#include <cstring>

#include "uenv.h"
#include "uenv_ioctl_device.h"

namespace uenv {
namespace {

// Output that never reached its file (a full disk, a closed pipe) is a
// failure, whatever the device said.
int finish_output(FILE *out, FILE *err, int status)
{
	if (std::fflush(out) == 0 && !std::ferror(out))
		return status;
	std::fprintf(err, "uenv: cannot write the output: %s\n", std::strerror(errno));
	return exit_failure;
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
		return finish_output(out, err, exit_ok);
	}

	bool changes = cmd.what == action::set || cmd.what == action::serial;
	ioctl_env_device device;
	int error = device.open(cmd.device_path, changes);
	if (error != 0) {
		std::fprintf(err, "uenv: cannot open %s: %s%s\n", cmd.device_path,
			     std::strerror(error),
			     error == ENOENT ? " (is the kelubootenv module loaded?)" : "");
		return exit_no_device;
	}
	return finish_output(out, err, run_command(cmd, device, out, err));
}

} // namespace uenv

// uenv: read and change the boot loader's environment through /dev/env.
//
// The command line is parsed into a `command`, which runs against a kelenv
// handle: the device itself, or in the host tests one in memory
// (kelenv_open_ops).
#ifndef UENV_H
#define UENV_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "command_line.h"
#include "kelenv.h"

namespace uenv {

// Exit statuses, one per kind of failure: name, value and meaning. --help
// and the README's table show the meanings of this one list.
#define UENV_EXIT_STATUSES(X) \
	X(exit_ok, 0, "success") \
	X(exit_key_absent, 1, "a key is not in the environment (get; serial without bootargs)") \
	X(exit_usage, 2, "bad command line") \
	X(exit_too_long, 3, "a key or value is too long") \
	X(exit_invalid_serial, 4, "invalid serial setting, or bootargs holds no console " \
				  "setting the driver can rewrite") \
	X(exit_read_only, 5, "the key is read-only") \
	X(exit_env_full, 6, "the environment is full (the change does not fit in its " \
			    "4096-byte block)") \
	X(exit_no_device, 7, "the device cannot be opened (module not loaded, no permission)") \
	X(exit_device_gone, 8, "the device is gone: its driver was unbound while the file " \
			       "was open") \
	X(exit_failure, 9, "any other device error (flash write, not an environment " \
			   "device), or the output cannot be written")

enum exit_status : int {
#define UENV_EXIT_ENUM(name, value, meaning) name = value,
	UENV_EXIT_STATUSES(UENV_EXIT_ENUM)
#undef UENV_EXIT_ENUM
};

struct exit_status_info {
	int status;
	const char *meaning;
};

inline constexpr exit_status_info exit_statuses[] = {
#define UENV_EXIT_INFO(name, value, meaning) {value, meaning},
	UENV_EXIT_STATUSES(UENV_EXIT_INFO)
#undef UENV_EXIT_INFO
};

static_assert(max_key_length == UENV_KEY_LEN - 1, "keys travel NUL-terminated in their field");

enum class action { help, list, get, set, serial };

struct command {
	action what = action::list;
	const char *device_path = UENV_DEVICE_PATH;
	const char *const *keys = nullptr;	// in argv; get: one or more
	std::size_t key_count = 0;	// set: exactly one
	bool value_only = false;	// get -n
	char *value = nullptr;		// set: the words joined (malloc'ed)
	std::size_t value_length = 0;	// 0: delete the key
	uboot_serial_config serial = {};	// serial: the record to send

	command() = default;
	command(const command &) = delete;
	command &operator=(const command &) = delete;
	~command();
};

// The board's default console: ttyS0, 115200 baud, no parity, 8 bits.
uboot_serial_config default_serial_config();

// Fills `cmd` from argv. Returns exit_ok, or the status of the first
// problem after describing it on `err`.
int parse_command_line(int argc, char *const argv[], command &cmd, FILE *err);

// The rules the driver applies to a serial record, in the order it tests
// them; the first broken one is reported.
enum class serial_rule { valid, mode, data_bits, parity, flow, port, baud };
serial_rule check_serial_config(const uboot_serial_config &config);
void print_serial_rule(FILE *out, serial_rule rule);

// Runs a parsed command (other than help) on `env`, opened read-write for
// set and serial. Results go to `out`, messages to `err`; returns the exit
// status.
int run_command(const command &cmd, kelenv *env, FILE *out, FILE *err);

void print_help(FILE *out);

// "serverip, bootargs, ... and update_ip": the keys the driver lets change.
void print_changeable_keys(FILE *out);

// "Only ... can be changed." and how long keys (NAMES, as the help calls
// them) and values may be.
void print_change_limits(FILE *out, const char *names, const char *placeholder);

// The whole program: parse, open the device, run, flush `out`.
int uenv_main(int argc, char *const argv[], FILE *out, FILE *err);

// ---- fw_printenv and fw_setenv ------------------------------------------
// U-Boot's tool names for the same program (links to uenv): the forms that
// board scripts use, each change made by the driver. Exit statuses are
// uenv's.

enum class fw_tool { printenv, setenv };

struct fw_command {
	fw_tool tool = fw_tool::printenv;
	bool help = false;		// -h: nothing else is done
	bool version = false;		// -V: nothing else is done
	bool value_only = false;	// fw_printenv -n
	const char *script = nullptr;	// fw_setenv -s FILE ("-": standard input)
	// The words that are no options, in their order (options may stand
	// between them, as with getopt); null when there are none.
	const char **names = nullptr;
	std::size_t name_count = 0;
	// fw_setenv NAME VALUE...: the words after NAME joined by blanks
	// (malloc'ed).
	char *value = nullptr;
	std::size_t value_length = 0;	// 0: delete NAME

	fw_command() = default;
	fw_command(const fw_command &) = delete;
	fw_command &operator=(const fw_command &) = delete;
	~fw_command();
};

const char *fw_tool_name(fw_tool tool);

// Fills `cmd` from argv as U-Boot's tools read their command line: -c, -f
// and -l (flash layout, lock file) are accepted with a note on `err`, an
// unknown option is reported and skipped. Returns exit_ok, or the status
// of the first problem after describing it on `err`.
int parse_fw_command_line(fw_tool tool, int argc, char *const argv[], fw_command &cmd,
			  FILE *err);

// One line of an fw_setenv script: "NAME VALUE" (the first run of blanks
// or tabs separates them) or "NAME=VALUE"; a NAME alone deletes. Leading
// blanks are skipped; a '#' first, or nothing, makes it no change.
struct script_line {
	enum kind { nothing, change, empty_name, name_too_long, value_too_long };
	kind what = nothing;
	const char *name = nullptr;	// in the line, not terminated
	std::size_t name_length = 0;
	const char *value = nullptr;
	std::size_t value_length = 0;	// 0: delete NAME
};

// `line` holds `length` characters without its newline (a '\r' before it
// is dropped here).
script_line parse_script_line(const char *line, std::size_t length);

// Checks every line of a script, so that a bad line changes nothing;
// returns exit_ok or the status of the first bad line after describing it.
int check_fw_script(const char *script, std::size_t length, FILE *err);

// Runs a parsed command (neither help nor version) on `env`, opened
// read-write for fw_setenv, with the checked text of its script if it has
// one. A script is one change set: all of its changes, with one flash
// write, or none.
int run_fw_command(const fw_command &cmd, const char *script, std::size_t script_length,
		   kelenv *env, FILE *out, FILE *err);

void print_fw_help(fw_tool tool, FILE *out);

// The whole fw_printenv or fw_setenv.
int fw_main(fw_tool tool, int argc, char *const argv[], FILE *in, FILE *out, FILE *err);

// The program under any of its names: uenv, or by the last part of argv[0],
// fw_printenv or fw_setenv, as busybox does.
int program_main(int argc, char *const argv[], FILE *in, FILE *out, FILE *err);

} // namespace uenv

#endif // UENV_H

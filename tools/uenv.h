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

// Keys travel NUL-terminated in their 64-byte field; values may fill
// their 256 bytes without a terminator.
constexpr std::size_t max_key_length = UENV_KEY_LEN - 1;
constexpr std::size_t max_value_length = UENV_VALUE_LEN;

enum class action { help, list, get, set, serial };

struct command {
	action what = action::list;
	const char *device_path = UENV_DEVICE_PATH;
	const char *const *keys = nullptr;	// in argv; get: one or more
	std::size_t key_count = 0;	// set: exactly one
	bool value_only = false;	// get -n
	char value[max_value_length + 1] = {};	// set: the words joined
	std::size_t value_length = 0;	// 0: delete the key
	uboot_serial_config serial = {};	// serial: the record to send
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

// The whole program: parse, open the device, run, flush `out`.
int uenv_main(int argc, char *const argv[], FILE *out, FILE *err);

} // namespace uenv

#endif // UENV_H

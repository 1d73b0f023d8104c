#include "uenv.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace uenv {
namespace {

constexpr std::uint32_t console_speeds[] = {
	300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 76800, 115200,
};
constexpr std::uint32_t max_port = 3;
// The keys the driver lets user space change.
constexpr const char *changeable_keys[] = {
	"serverip", "bootargs", "device_type", "identification", "update_ip",
};

bool changeable(const char *key)
{
	for (const char *changeable_key : changeable_keys) {
		if (std::strcmp(key, changeable_key) == 0)
			return true;
	}
	return false;
}

int report_read_only(FILE *err, const char *key)
{
	std::fprintf(err, "uenv: %s: read-only key; only", key);
	const std::size_t count = sizeof changeable_keys / sizeof changeable_keys[0];
	for (std::size_t i = 0; i < count; ++i)
		std::fprintf(err, "%s %s", i == 0 ? "" : i + 1 == count ? " and" : ",",
			     changeable_keys[i]);
	std::fputs(" can be changed\n", err);
	return exit_read_only;
}

__attribute__((format(printf, 2, 3)))
int usage_error(FILE *err, const char *format, ...)
{
	va_list args;
	va_start(args, format);
	std::fputs("uenv: ", err);
	std::vfprintf(err, format, args);  // NOLINT(clang-analyzer-valist.Uninitialized): started above
	std::fputs("\nTry 'uenv --help'.\n", err);
	va_end(args);
	return exit_usage;
}

// Matches "--name VALUE" and "--name=VALUE". On a match `i` is left on
// the last word used and `value` is null when the value is missing.
bool match_option(const char *name, int argc, char *const argv[], int &i,
		  const char *&value)
{
	const char *arg = argv[i];
	std::size_t length = std::strlen(name);
	if (std::strncmp(arg, name, length) != 0)
		return false;
	if (arg[length] == '=') {
		value = arg + length + 1;
		return true;
	}
	if (arg[length] != '\0')
		return false;
	value = i + 1 < argc ? argv[++i] : nullptr;
	return true;
}

bool is_option(const char *arg)
{
	return arg[0] == '-' && arg[1] != '\0';
}

enum class global { not_global, taken, stop };

// --device and --help are accepted before the command and among its
// options. --help, or a bad --device, stops parsing at once with `status`.
global take_global_option(int argc, char *const argv[], int &i, command &cmd,
			  FILE *err, int &status)
{
	const char *arg = argv[i];
	const char *value = nullptr;
	if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
		cmd.what = action::help;
		status = exit_ok;
		return global::stop;
	}
	if (!match_option("--device", argc, argv, i, value))
		return global::not_global;
	if (value == nullptr || value[0] == '\0') {
		status = usage_error(err, "--device needs a path");
		return global::stop;
	}
	cmd.device_path = value;
	return global::taken;
}

int check_key(const char *key, FILE *err)
{
	std::size_t length = std::strlen(key);
	if (length == 0)
		return usage_error(err, "the key is empty");
	if (std::strchr(key, '=') != nullptr)
		return usage_error(err, "key '%s' contains '='", key);
	if (length > max_key_length) {
		std::fprintf(err, "uenv: key '%s' is %zu characters long; keys hold at most %zu\n",
			     key, length, max_key_length);
		return exit_too_long;
	}
	return exit_ok;
}

int parse_list(int argc, char *const argv[], int i, command &cmd, FILE *err)
{
	for (; i < argc; ++i) {
		int status = exit_ok;
		switch (take_global_option(argc, argv, i, cmd, err, status)) {
		case global::taken:
			continue;
		case global::stop:
			return status;
		case global::not_global:
			break;
		}
		if (is_option(argv[i]))
			return usage_error(err, "list: unknown option '%s'", argv[i]);
		return usage_error(err, "list takes no argument ('%s')", argv[i]);
	}
	return exit_ok;
}

// Options before the keys, as fw_printenv takes them; the keys stay in
// argv, so nothing is allocated.
int parse_get(int argc, char *const argv[], int i, command &cmd, FILE *err)
{
	bool options_done = false;
	for (; i < argc && is_option(argv[i]); ++i) {
		const char *arg = argv[i];
		if (std::strcmp(arg, "--") == 0) {
			options_done = true;
			++i;
			break;
		}
		if (std::strcmp(arg, "-n") == 0) {
			cmd.value_only = true;
			continue;
		}
		int status = exit_ok;
		switch (take_global_option(argc, argv, i, cmd, err, status)) {
		case global::taken:
			break;
		case global::stop:
			return status;
		case global::not_global:
			return usage_error(err, "get: unknown option '%s'", arg);
		}
	}
	cmd.keys = argv + i;
	cmd.key_count = static_cast<std::size_t>(argc - i);
	for (; i < argc; ++i) {
		const char *arg = argv[i];
		if (!options_done && is_option(arg)) {
			if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
				cmd.what = action::help;
				return exit_ok;
			}
			return usage_error(err, "get: options go before the keys ('%s')", arg);
		}
		int status = check_key(arg, err);
		if (status != exit_ok)
			return status;
	}
	if (cmd.key_count == 0)
		return usage_error(err, "get needs at least one key");
	if (cmd.value_only && cmd.key_count != 1)
		return usage_error(err, "get -n prints one value: give exactly one key");
	return exit_ok;
}

// Options only before the key: every word after it belongs to the value,
// whatever it looks like.
int parse_set(int argc, char *const argv[], int i, command &cmd, FILE *err)
{
	for (; i < argc && is_option(argv[i]); ++i) {
		if (std::strcmp(argv[i], "--") == 0) {
			++i;
			break;
		}
		int status = exit_ok;
		switch (take_global_option(argc, argv, i, cmd, err, status)) {
		case global::taken:
			continue;
		case global::stop:
			return status;
		case global::not_global:
			return usage_error(err, "set: unknown option '%s'", argv[i]);
		}
	}
	if (i >= argc)
		return usage_error(err, "set needs a key");
	int status = check_key(argv[i], err);
	if (status != exit_ok)
		return status;
	cmd.keys = argv + i;
	cmd.key_count = 1;
	++i;

	std::size_t joined_length = 0;
	for (int word = i; word < argc; ++word)
		joined_length += std::strlen(argv[word]) + (word > i ? 1 : 0);
	if (joined_length > max_value_length) {
		std::fprintf(err, "uenv: the value is %zu characters long; values hold at most %zu\n",
			     joined_length, max_value_length);
		return exit_too_long;
	}
	cmd.value_length = 0;
	for (int word = i; word < argc; ++word) {
		if (word > i)
			cmd.value[cmd.value_length++] = ' ';
		std::size_t length = std::strlen(argv[word]);
		std::memcpy(cmd.value + cmd.value_length, argv[word], length);
		cmd.value_length += length;
	}
	cmd.value[cmd.value_length] = '\0';
	return exit_ok;
}

bool parse_number(const char *text, std::uint32_t &number)
{
	if (text == nullptr || text[0] < '0' || text[0] > '9')
		return false;
	errno = 0;
	char *end = nullptr;
	unsigned long long parsed = std::strtoull(text, &end, 10);
	if (*end != '\0' || errno == ERANGE || parsed > UINT32_MAX)
		return false;
	number = static_cast<std::uint32_t>(parsed);
	return true;
}

// Nothing is opened for a setting the driver would refuse.
int report_broken_serial_rule(const uboot_serial_config &config, FILE *err)
{
	serial_rule broken = check_serial_config(config);
	if (broken == serial_rule::valid)
		return exit_ok;
	std::fprintf(err, "uenv: invalid serial setting: %s\n", describe_serial_rule(broken));
	return exit_invalid_serial;
}

int invalid_serial_option(FILE *err, const char *option, const char *text,
			  serial_rule rule)
{
	std::fprintf(err, "uenv: invalid serial setting %s %s: %s\n", option, text,
		     describe_serial_rule(rule));
	return exit_invalid_serial;
}

// A number for a one-byte field; one that does not fit breaks the field's
// rule anyway.
int parse_serial_byte(const char *option, const char *text, serial_rule rule,
		      __u8 &field, FILE *err)
{
	std::uint32_t number = 0;
	if (!parse_number(text, number) || number > 0xff)
		return invalid_serial_option(err, option, text, rule);
	field = static_cast<__u8>(number);
	return exit_ok;
}

int parse_serial(int argc, char *const argv[], int i, command &cmd, FILE *err)
{
	cmd.serial = default_serial_config();
	const char *serial_form_option = nullptr;
	bool terminal_form = false;
	for (; i < argc; ++i) {
		int status = exit_ok;
		switch (take_global_option(argc, argv, i, cmd, err, status)) {
		case global::taken:
			continue;
		case global::stop:
			return status;
		case global::not_global:
			break;
		}
		const char *arg = argv[i];
		const char *value = nullptr;
		if (std::strcmp(arg, "--rts") == 0) {
			cmd.serial.flow = UENV_FLOW_RTSCTS;
			serial_form_option = "--rts";
			continue;
		}
		static const char *const valued_options[] = {
			"--port", "--baud", "--parity", "--bits", "--tty",
		};
		const char *option = nullptr;
		for (const char *candidate : valued_options) {
			if (match_option(candidate, argc, argv, i, value)) {
				option = candidate;
				break;
			}
		}
		if (option == nullptr) {
			if (is_option(arg))
				return usage_error(err, "serial: unknown option '%s'", arg);
			return usage_error(err, "serial takes options only ('%s')", arg);
		}
		if (value == nullptr)
			return usage_error(err, "%s needs a value", option);

		if (std::strcmp(option, "--tty") == 0) {
			terminal_form = true;
			cmd.serial.mode = UENV_SERIAL_MODE_TTY;
			status = parse_serial_byte(option, value, serial_rule::port,
						   cmd.serial.port, err);
		} else if (std::strcmp(option, "--port") == 0) {
			serial_form_option = option;
			status = parse_serial_byte(option, value, serial_rule::port,
						   cmd.serial.port, err);
		} else if (std::strcmp(option, "--bits") == 0) {
			serial_form_option = option;
			status = parse_serial_byte(option, value, serial_rule::data_bits,
						   cmd.serial.data_bits, err);
		} else if (std::strcmp(option, "--baud") == 0) {
			serial_form_option = option;
			std::uint32_t baud = 0;
			if (!parse_number(value, baud))
				return invalid_serial_option(err, option, value, serial_rule::baud);
			cmd.serial.baud = baud;
		} else {
			serial_form_option = option;
			static const char parity_letters[] = "noe";
			const char *letter = value[0] != '\0' && value[1] == '\0'
				? std::strchr(parity_letters, value[0]) : nullptr;
			if (letter == nullptr)
				return invalid_serial_option(err, option, value, serial_rule::parity);
			cmd.serial.parity = static_cast<__u8>(letter - parity_letters);
		}
		if (status != exit_ok)
			return status;
	}
	if (terminal_form && serial_form_option != nullptr)
		return usage_error(err, "--tty writes the terminal form tty<N>; %s does not apply to it",
				   serial_form_option);
	return report_broken_serial_rule(cmd.serial, err);
}

void print_text(FILE *out, const char *text, std::size_t field_size)
{
	std::fwrite(text, 1, strnlen(text, field_size), out);
}

// Neither field needs its terminator: a 64-character key and a
// 256-character value fill theirs.
void print_entry(FILE *out, const char *key, const char *value, bool value_only)
{
	if (!value_only) {
		print_text(out, key, UENV_KEY_LEN);
		std::fputc('=', out);
	}
	print_text(out, value, UENV_VALUE_LEN);
	std::fputc('\n', out);
}

int device_error(FILE *err, const command &cmd, const char *operation,
		 const char *key, int error)
{
	std::fprintf(err, "uenv: %s: %s", cmd.device_path, operation);
	if (key != nullptr)
		std::fprintf(err, " %.*s", static_cast<int>(strnlen(key, UENV_KEY_LEN)), key);
	switch (error) {
	case ENODEV:
		std::fputs(": the device is gone (the driver was unbound from it)\n", err);
		return exit_device_gone;
	case ENOTTY:
		std::fputs(": not an environment device\n", err);
		return exit_failure;
	default:
		std::fprintf(err, ": %s\n", std::strerror(error));
		return exit_failure;
	}
}

uboot_env_record record_for_key(const char *key)
{
	uboot_env_record record = {};
	std::memcpy(record.key, key, strnlen(key, sizeof record.key));
	return record;
}

int run_list(const command &cmd, env_device &device, FILE *out, FILE *err)
{
	std::uint32_t entries = 0;
	int error = device.count(entries);
	if (error != 0)
		return device_error(err, cmd, "count", nullptr, error);
	// Another program may change the environment meanwhile: a list that
	// shrank ends early, a key deleted between the two calls is skipped.
	for (std::uint32_t index = 0; index < entries; ++index) {
		uboot_env_index_record position = {};
		position.index = index;
		error = device.key_at(position);
		if (error == ENOENT)
			break;
		if (error != 0)
			return device_error(err, cmd, "key at", nullptr, error);
		uboot_env_record record = {};
		std::memcpy(record.key, position.key, sizeof record.key);
		error = device.get(record);
		if (error == ENOENT)
			continue;
		if (error != 0)
			return device_error(err, cmd, "get", record.key, error);
		print_entry(out, record.key, record.value, false);
	}
	return exit_ok;
}

int run_get(const command &cmd, env_device &device, FILE *out, FILE *err)
{
	int status = exit_ok;
	for (std::size_t k = 0; k < cmd.key_count; ++k) {
		const char *key = cmd.keys[k];
		uboot_env_record record = record_for_key(key);
		int error = device.get(record);
		if (error == ENOENT) {
			std::fprintf(err, "uenv: %s: not in the environment\n", key);
			status = exit_key_absent;
			continue;
		}
		if (error != 0)
			return device_error(err, cmd, "get", key, error);
		print_entry(out, record.key, record.value, cmd.value_only);
	}
	return status;
}

int report_full(FILE *err)
{
	std::fputs("uenv: the environment is full: the change does not fit in its 4096-byte block\n",
		   err);
	return exit_env_full;
}

int run_set(const command &cmd, env_device &device, FILE *err)
{
	if (cmd.key_count != 1)
		return exit_usage;
	const char *key = cmd.keys[0];
	uboot_env_record record = record_for_key(key);
	if (cmd.value_length == 0) {
		// The driver stores an empty value for an absent key instead of
		// deleting nothing, so only delete what is there.
		int error = device.get(record);
		// Absent: nothing to delete, unless the key could not be
		// deleted anyway, which the driver would say for a present one.
		if (error == ENOENT)
			return changeable(key) ? exit_ok : report_read_only(err, key);
		if (error != 0)
			return device_error(err, cmd, "get", key, error);
		std::memset(record.value, 0, sizeof record.value);
	} else {
		std::memcpy(record.value, cmd.value, cmd.value_length);
	}
	int error = device.set(record);
	switch (error) {
	case 0:
		return exit_ok;
	case EPERM:
		return report_read_only(err, key);
	case ENOSPC:
		return report_full(err);
	default:
		return device_error(err, cmd, "set", key, error);
	}
}

int run_serial(const command &cmd, env_device &device, FILE *err)
{
	int status = report_broken_serial_rule(cmd.serial, err);
	if (status != exit_ok)
		return status;
	int error = device.serial(cmd.serial);
	switch (error) {
	case 0:
		return exit_ok;
	case EINVAL:
		std::fputs("uenv: the driver refused the serial setting: bootargs holds no console "
			   "setting it can rewrite (ttyS<port>,<speed>... or tty<port>), or the new "
			   "one does not fit in 256 characters\n", err);
		return exit_invalid_serial;
	case ENOENT:
		std::fputs("uenv: bootargs: not in the environment, so there is no console setting "
			   "to rewrite\n", err);
		return exit_key_absent;
	case ENOSPC:
		return report_full(err);
	default:
		return device_error(err, cmd, "serial", nullptr, error);
	}
}

} // namespace

uboot_serial_config default_serial_config()
{
	uboot_serial_config config = {};
	config.mode = UENV_SERIAL_MODE_SERIAL;
	config.baud = 115200;
	config.data_bits = 8;
	config.parity = 0;
	config.flow = 0;
	config.port = 0;
	return config;
}

serial_rule check_serial_config(const uboot_serial_config &config)
{
	if (config.mode != UENV_SERIAL_MODE_SERIAL && config.mode != UENV_SERIAL_MODE_TTY)
		return serial_rule::mode;
	if (config.data_bits < 5 || config.data_bits > 8)
		return serial_rule::data_bits;
	if (config.parity > 2)
		return serial_rule::parity;
	if (config.flow > UENV_FLOW_RTSCTS)
		return serial_rule::flow;
	if (config.port > max_port)
		return serial_rule::port;
	for (std::uint32_t speed : console_speeds) {
		if (config.baud == speed)
			return serial_rule::valid;
	}
	return serial_rule::baud;
}

const char *describe_serial_rule(serial_rule rule)
{
	switch (rule) {
	case serial_rule::valid:
		return "valid";
	case serial_rule::mode:
		return "the console must be serial (ttyS) or terminal (tty)";
	case serial_rule::data_bits:
		return "data bits must be 5, 6, 7 or 8";
	case serial_rule::parity:
		return "parity must be n, o or e";
	case serial_rule::flow:
		return "flow control must be none or RTS/CTS";
	case serial_rule::port:
		return "the port must be 0, 1, 2 or 3";
	case serial_rule::baud:
		return "the speed must be one of 300, 600, 1200, 2400, 4800, 9600, 19200, "
		       "38400, 57600, 76800, 115200";
	}
	return "unknown rule";
}

int parse_command_line(int argc, char *const argv[], command &cmd, FILE *err)
{
	int i = 1;
	for (; i < argc; ++i) {
		int status = exit_ok;
		global result = take_global_option(argc, argv, i, cmd, err, status);
		if (result == global::stop)
			return status;
		if (result == global::not_global)
			break;
	}
	if (i >= argc) {
		cmd.what = action::list;
		return exit_ok;
	}
	const char *name = argv[i++];
	if (std::strcmp(name, "list") == 0) {
		cmd.what = action::list;
		return parse_list(argc, argv, i, cmd, err);
	}
	if (std::strcmp(name, "get") == 0) {
		cmd.what = action::get;
		return parse_get(argc, argv, i, cmd, err);
	}
	if (std::strcmp(name, "set") == 0) {
		cmd.what = action::set;
		return parse_set(argc, argv, i, cmd, err);
	}
	if (std::strcmp(name, "serial") == 0) {
		cmd.what = action::serial;
		return parse_serial(argc, argv, i, cmd, err);
	}
	if (is_option(name))
		return usage_error(err, "unknown option '%s'", name);
	return usage_error(err, "unknown command '%s'", name);
}

int run_command(const command &cmd, env_device &device, FILE *out, FILE *err)
{
	switch (cmd.what) {
	case action::list:
		return run_list(cmd, device, out, err);
	case action::get:
		return run_get(cmd, device, out, err);
	case action::set:
		return run_set(cmd, device, err);
	case action::serial:
		return run_serial(cmd, device, err);
	case action::help:
		break;
	}
	print_help(out);
	return exit_ok;
}

void print_help(FILE *out)
{
	std::fputs(
"Usage: uenv [--device PATH] [COMMAND [ARGUMENTS]]\n"
"Reads and changes the boot loader's (U-Boot's) environment through " UENV_DEVICE_PATH ".\n"
"\n"
"Commands:\n"
"  list                  print every key=value in the environment's order\n"
"                        (the command when none is given)\n"
"  get [-n] KEY...       print KEY=value for each KEY; -n prints the value\n"
"                        alone and takes exactly one KEY\n"
"  set KEY [VALUE...]    set KEY to the VALUE words joined by single blanks;\n"
"                        without VALUE, delete KEY (nothing to do if absent)\n"
"  serial [--port N] [--baud B] [--parity n|o|e] [--bits N] [--rts]\n"
"                        put the serial console ttyS<N>,<B><parity><bits>[r]\n"
"                        into bootargs; defaults: port 0, 115200 baud,\n"
"                        parity n, 8 bits, no flow control (--rts: RTS/CTS)\n"
"  serial --tty N        put the terminal console tty<N> into bootargs\n"
"\n"
"Options:\n"
"  --device PATH         the environment device (default " UENV_DEVICE_PATH ")\n"
"  -h, --help            show this text\n"
"\n"
"Only serverip, bootargs, device_type, identification and update_ip can be\n"
"changed. Keys hold at most 63 characters, values at most 256. Ports are 0\n"
"to 3, data bits 5 to 8, speeds 300, 600, 1200, 2400, 4800, 9600, 19200,\n"
"38400, 57600, 76800 or 115200. The driver rewrites the console back to\n"
"ttyS0,115200n8 whenever it is loaded.\n"
"\n"
"Exit status:\n"
"  0  success\n"
"  1  a key is not in the environment\n"
"  2  bad command line\n"
"  3  a key or value is too long\n"
"  4  invalid serial setting, or bootargs has no console setting to rewrite\n"
"  5  the key is read-only\n"
"  6  the environment is full\n"
"  7  the device cannot be opened\n"
"  8  the device is gone (its driver was unbound)\n"
"  9  any other device error, or the output cannot be written\n",
		out);
}

} // namespace uenv

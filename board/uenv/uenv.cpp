#include "uenv.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace uenv {
namespace {

constexpr std::uint32_t console_speeds[] = {UENV_SERIAL_SPEEDS};
constexpr const char *changeable_keys[] = {UENV_PERMITTED_KEYS};
constexpr const char parity_letters[] = UENV_PARITY_LETTERS;

template <typename T, std::size_t n> constexpr std::size_t count_of(const T (&)[n])
{
	return n;
}

// The separator before item i of n, as in "a, b and c".
void print_separator(FILE *out, std::size_t i, std::size_t n, const char *conjunction)
{
	if (i > 0)
		std::fprintf(out, i + 1 == n ? " %s " : ", ", conjunction);
}

} // namespace

void print_changeable_keys(FILE *out)
{
	for (std::size_t i = 0; i < count_of(changeable_keys); ++i) {
		print_separator(out, i, count_of(changeable_keys), "and");
		std::fputs(changeable_keys[i], out);
	}
}

namespace {

// "first, first + 1, ... or last"
void print_choices(FILE *out, unsigned first, unsigned last)
{
	for (unsigned n = first; n <= last; ++n) {
		print_separator(out, n - first, last - first + 1, "or");
		std::fprintf(out, "%u", n);
	}
}

int report_read_only(FILE *err, const char *key)
{
	std::fprintf(err, "uenv: %s: read-only key; only ", key);
	print_changeable_keys(err);
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

bool is_help(const char *arg)
{
	return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0;
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
	std::fputs("uenv: invalid serial setting: ", err);
	print_serial_rule(err, broken);
	std::fputc('\n', err);
	return exit_invalid_serial;
}

int invalid_serial_option(FILE *err, const char *option, const char *text,
			  serial_rule rule)
{
	std::fprintf(err, "uenv: invalid serial setting %s %s: ", option, text);
	print_serial_rule(err, rule);
	std::fputc('\n', err);
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

// ---- The command line -------------------------------------------------

// What a command's own option handler returns for a word it does not know.
constexpr int not_an_option_of_the_command = -1;

// What the parse has seen so far.
struct parse_state {
	bool done = false;		// --help, or a bad --device: no more parsing
	bool after_double_dash = false;
	// The serial form's options, to refuse them beside --tty.
	const char *serial_form_option = nullptr;
	bool terminal_form = false;
};

struct command_spec {
	const char *name;
	// Takes the option at argv[i] (moving i past its value): exit_ok, a
	// failure status, or not_an_option_of_the_command.
	int (*take_option)(int argc, char *const argv[], int &i, command &cmd,
			   parse_state &state, FILE *err);
	// Takes the words after the options (argv[i] on), when the options
	// end: at the first word that is none, or after "--".
	int (*take_operands)(int argc, char *const argv[], int i, command &cmd,
			     const parse_state &state, FILE *err);
	action what;
	bool stops_at_double_dash;
};

int no_options(int, char *const[], int &, command &, parse_state &, FILE *)
{
	return not_an_option_of_the_command;
}

// cppcheck-suppress constParameterCallback ; every option handler's signature
int take_get_option(int, char *const argv[], int &i, command &cmd, parse_state &, FILE *)
{
	if (std::strcmp(argv[i], "-n") != 0)
		return not_an_option_of_the_command;
	cmd.value_only = true;
	return exit_ok;
}

int take_serial_option(int argc, char *const argv[], int &i, command &cmd,
		       parse_state &state, FILE *err)
{
	const char *arg = argv[i];
	if (std::strcmp(arg, "--rts") == 0) {
		cmd.serial.flow = UENV_FLOW_RTSCTS;
		state.serial_form_option = "--rts";
		return exit_ok;
	}
	static const char *const valued_options[] = {
		"--port", "--baud", "--parity", "--bits", "--tty",
	};
	const char *option = nullptr;
	const char *value = nullptr;
	for (const char *candidate : valued_options) {
		if (match_option(candidate, argc, argv, i, value)) {
			option = candidate;
			break;
		}
	}
	if (option == nullptr)
		return not_an_option_of_the_command;
	if (value == nullptr)
		return usage_error(err, "%s needs a value", option);

	if (std::strcmp(option, "--tty") == 0) {
		state.terminal_form = true;
		cmd.serial.mode = UENV_SERIAL_MODE_TTY;
		return parse_serial_byte(option, value, serial_rule::port, cmd.serial.port, err);
	}
	state.serial_form_option = option;
	if (std::strcmp(option, "--port") == 0)
		return parse_serial_byte(option, value, serial_rule::port, cmd.serial.port, err);
	if (std::strcmp(option, "--bits") == 0)
		return parse_serial_byte(option, value, serial_rule::data_bits, cmd.serial.data_bits,
					 err);
	if (std::strcmp(option, "--baud") == 0) {
		std::uint32_t baud = 0;
		if (!parse_number(value, baud))
			return invalid_serial_option(err, option, value, serial_rule::baud);
		cmd.serial.baud = baud;
		return exit_ok;
	}
	const char *letter = value[0] != '\0' && value[1] == '\0'
		? std::strchr(parity_letters, value[0]) : nullptr;
	if (letter == nullptr)
		return invalid_serial_option(err, option, value, serial_rule::parity);
	cmd.serial.parity = static_cast<__u8>(letter - parity_letters);
	return exit_ok;
}

int take_list_operands(int argc, char *const argv[], int i, command &, const parse_state &,
		       FILE *err)
{
	if (i < argc)
		return usage_error(err, "list takes no argument ('%s')", argv[i]);
	return exit_ok;
}

// The keys stay in argv, so nothing is allocated.
int take_get_operands(int argc, char *const argv[], int i, command &cmd,
		      const parse_state &state, FILE *err)
{
	cmd.keys = argv + i;
	cmd.key_count = static_cast<std::size_t>(argc - i);
	for (; i < argc; ++i) {
		const char *arg = argv[i];
		if (!state.after_double_dash && is_option(arg)) {
			if (is_help(arg)) {
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

// Every word after the key belongs to the value, whatever it looks like.
int take_set_operands(int argc, char *const argv[], int i, command &cmd,
		      const parse_state &, FILE *err)
{
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

// cppcheck-suppress constParameterCallback ; every operand handler's signature
int take_serial_operands(int argc, char *const argv[], int i, command &cmd,
			 const parse_state &state, FILE *err)
{
	if (i < argc)
		return usage_error(err, "serial takes options only ('%s')", argv[i]);
	if (state.terminal_form && state.serial_form_option != nullptr)
		return usage_error(err, "--tty writes the terminal form tty<N>; %s does not apply to it",
				   state.serial_form_option);
	return report_broken_serial_rule(cmd.serial, err);
}

constexpr command_spec commands[] = {
	{"list", no_options, take_list_operands, action::list, false},
	{"get", take_get_option, take_get_operands, action::get, true},
	{"set", no_options, take_set_operands, action::set, true},
	{"serial", take_serial_option, take_serial_operands, action::serial, false},
};

// The options from argv[i] on, up to the first word that is none (or
// after "--", where the command allows it): the global ones, then those
// of `spec` (none before the command's name). --help, or a bad --device,
// ends the parse at once. Returns exit_ok or the failure's status.
int take_options(int argc, char *const argv[], int &i, command &cmd, const command_spec *spec,
		 parse_state &state, FILE *err)
{
	for (; i < argc && is_option(argv[i]); ++i) {
		const char *arg = argv[i];
		const char *value = nullptr;
		if (is_help(arg)) {
			cmd.what = action::help;
			state.done = true;
			return exit_ok;
		}
		if (match_option("--device", argc, argv, i, value)) {
			if (value == nullptr || value[0] == '\0') {
				state.done = true;
				return usage_error(err, "--device needs a path");
			}
			cmd.device_path = value;
			continue;
		}
		if (spec == nullptr)
			break;	// the command's name, or an unknown option before it
		if (spec->stops_at_double_dash && std::strcmp(arg, "--") == 0) {
			state.after_double_dash = true;
			++i;
			break;
		}
		int status = spec->take_option(argc, argv, i, cmd, state, err);
		if (status == not_an_option_of_the_command)
			return usage_error(err, "%s: unknown option '%s'", spec->name, arg);
		if (status != exit_ok)
			return status;
	}
	return exit_ok;
}

} // namespace

int parse_command_line(int argc, char *const argv[], command &cmd, FILE *err)
{
	parse_state state;
	int i = 1;
	int status = take_options(argc, argv, i, cmd, nullptr, state, err);
	if (state.done || status != exit_ok)
		return status;
	if (i >= argc) {
		cmd.what = action::list;
		return exit_ok;
	}
	const char *name = argv[i++];
	const command_spec *spec = nullptr;
	for (const command_spec &candidate : commands) {
		if (std::strcmp(name, candidate.name) == 0)
			spec = &candidate;
	}
	if (spec == nullptr) {
		if (is_option(name))
			return usage_error(err, "unknown option '%s'", name);
		return usage_error(err, "unknown command '%s'", name);
	}
	cmd.what = spec->what;
	if (spec->what == action::serial)
		cmd.serial = default_serial_config();
	status = take_options(argc, argv, i, cmd, spec, state, err);
	if (state.done || status != exit_ok)
		return status;
	return spec->take_operands(argc, argv, i, cmd, state, err);
}

namespace {

void print_entry(FILE *out, const char *key, const char *value, bool value_only)
{
	if (!value_only) {
		std::fputs(key, out);
		std::fputc('=', out);
	}
	std::fputs(value, out);
	std::fputc('\n', out);
}

// `error` is the library's negative errno value.
int device_error(FILE *err, const command &cmd, const char *operation,
		 const char *key, int error)
{
	std::fprintf(err, "uenv: %s: %s", cmd.device_path, operation);
	if (key != nullptr)
		std::fprintf(err, " %s", key);
	switch (-error) {
	case ENODEV:
		std::fputs(": the device is gone (the driver was unbound from it)\n", err);
		return exit_device_gone;
	case ENOTTY:
		std::fputs(": not an environment device\n", err);
		return exit_failure;
	default:
		std::fprintf(err, ": %s\n", std::strerror(-error));
		return exit_failure;
	}
}

// `out` is the walk's context.
int print_listed_entry(const char *key, const char *value, void *out)
{
	print_entry(static_cast<FILE *>(out), key, value, false);
	return 0;
}

int run_list(const command &cmd, kelenv *env, FILE *out, FILE *err)
{
	int error = kelenv_foreach(env, print_listed_entry, out);
	if (error != 0)
		return device_error(err, cmd, "list", nullptr, error);
	return exit_ok;
}

int run_get(const command &cmd, kelenv *env, FILE *out, FILE *err)
{
	int status = exit_ok;
	for (std::size_t k = 0; k < cmd.key_count; ++k) {
		const char *key = cmd.keys[k];
		char value[KELENV_VALUE_SIZE];
		int length = kelenv_get(env, key, value, sizeof value);
		if (length == -ENOENT) {
			std::fprintf(err, "uenv: %s: not in the environment\n", key);
			status = exit_key_absent;
			continue;
		}
		if (length < 0)
			return device_error(err, cmd, "get", key, length);
		print_entry(out, key, value, cmd.value_only);
	}
	return status;
}

int report_full(FILE *err)
{
	std::fputs("uenv: the environment is full: the change does not fit in its 4096-byte block\n",
		   err);
	return exit_env_full;
}

int run_set(const command &cmd, kelenv *env, FILE *err)
{
	if (cmd.key_count != 1)
		return exit_usage;
	const char *key = cmd.keys[0];
	// No value: delete, and nothing to do if absent (the library refuses a
	// read-only key whether it is there or not).
	int error = cmd.value_length == 0 ? kelenv_delete(env, key)
					  : kelenv_set(env, key, cmd.value);
	switch (-error) {
	case 0:
		return exit_ok;
	case ENOENT:
		return cmd.value_length == 0 ? exit_ok
					     : device_error(err, cmd, "set", key, error);
	case EPERM:
		return report_read_only(err, key);
	case ENOSPC:
		return report_full(err);
	default:
		return device_error(err, cmd, "set", key, error);
	}
}

int run_serial(const command &cmd, kelenv *env, FILE *err)
{
	int status = report_broken_serial_rule(cmd.serial, err);
	if (status != exit_ok)
		return status;
	int error = kelenv_serial(env, &cmd.serial);
	switch (-error) {
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
	config.baud = UENV_DEFAULT_BAUD;
	config.data_bits = UENV_DEFAULT_DATA_BITS;
	config.parity = UENV_DEFAULT_PARITY;
	config.flow = 0;
	config.port = UENV_DEFAULT_PORT;
	return config;
}

serial_rule check_serial_config(const uboot_serial_config &config)
{
	if (config.mode != UENV_SERIAL_MODE_SERIAL && config.mode != UENV_SERIAL_MODE_TTY)
		return serial_rule::mode;
	if (config.data_bits < UENV_DATA_BITS_MIN || config.data_bits > UENV_DATA_BITS_MAX)
		return serial_rule::data_bits;
	if (config.parity >= sizeof parity_letters - 1)
		return serial_rule::parity;
	if (config.flow > UENV_FLOW_RTSCTS)
		return serial_rule::flow;
	if (config.port > UENV_PORT_MAX)
		return serial_rule::port;
	for (std::uint32_t speed : console_speeds) {
		if (config.baud == speed)
			return serial_rule::valid;
	}
	return serial_rule::baud;
}

void print_serial_rule(FILE *out, serial_rule rule)
{
	switch (rule) {
	case serial_rule::valid:
		std::fputs("valid", out);
		return;
	case serial_rule::mode:
		std::fputs("the console must be serial (ttyS) or terminal (tty)", out);
		return;
	case serial_rule::data_bits:
		std::fputs("data bits must be ", out);
		print_choices(out, UENV_DATA_BITS_MIN, UENV_DATA_BITS_MAX);
		return;
	case serial_rule::parity:
		std::fputs("parity must be ", out);
		for (std::size_t i = 0; i + 1 < sizeof parity_letters; ++i) {
			print_separator(out, i, sizeof parity_letters - 1, "or");
			std::fputc(parity_letters[i], out);
		}
		return;
	case serial_rule::flow:
		std::fputs("flow control must be none or RTS/CTS", out);
		return;
	case serial_rule::port:
		std::fputs("the port must be ", out);
		print_choices(out, 0, UENV_PORT_MAX);
		return;
	case serial_rule::baud:
		std::fputs("the speed must be one of ", out);
		for (std::size_t i = 0; i < count_of(console_speeds); ++i)
			std::fprintf(out, "%s%u", i == 0 ? "" : ", ", console_speeds[i]);
		return;
	}
}

int run_command(const command &cmd, kelenv *env, FILE *out, FILE *err)
{
	switch (cmd.what) {
	case action::list:
		return run_list(cmd, env, out, err);
	case action::get:
		return run_get(cmd, env, out, err);
	case action::set:
		return run_set(cmd, env, err);
	case action::serial:
		return run_serial(cmd, env, err);
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
"Called as fw_printenv or fw_setenv (links to uenv), it takes the command\n"
"lines of U-Boot's tools of those names: see fw_printenv -h, fw_setenv -h.\n"
"\n", out);
	std::fputs("Only ", out);
	print_changeable_keys(out);
	std::fprintf(out, " can be changed.\nKeys hold at most %zu characters, values at most %zu.\n",
		     max_key_length, max_value_length);
	std::fputs("For serial:", out);
	const serial_rule ranges[] = {serial_rule::port, serial_rule::data_bits, serial_rule::baud};
	for (serial_rule rule : ranges) {
		std::fputs("\n  ", out);
		print_serial_rule(out, rule);
	}
	std::fputs(".\nThe driver rewrites the console back to ttyS0,115200n8 whenever it is\n"
		   "loaded.\n\nExit status:\n", out);
	for (const exit_status_info &status : exit_statuses)
		std::fprintf(out, "  %d  %s\n", status.status, status.meaning);
}

} // namespace uenv

#include "uenv.h"

#include <cerrno>
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

void print_change_limits(FILE *out, const char *names, const char *placeholder)
{
	std::fputs("Only ", out);
	print_changeable_keys(out);
	std::fprintf(out, " can be changed.\n%s hold at most %zu characters; a value as much as the\n"
		     "block holds (%d bytes of %s=VALUE strings, each with its NUL).\n",
		     names, max_key_length, UENV_STRINGS_MAX, placeholder);
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

const char *uenv_reason(int error)
{
	switch (-error) {
	case ENODEV:
		return "the device is gone (the driver was unbound from it)";
	case ENOTTY:
		return "not an environment device";
	case EOVERFLOW:
	case EOPNOTSUPP:
	case E2BIG:
		return kelenv_strerror(error);	// what an older driver cannot do
	default:
		return std::strerror(-error);
	}
}

const voice uenv_voice = {"uenv", "key", "key '%.*s' contains '='", "Try 'uenv --help'.", true,
			  uenv_reason};

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

int invalid_serial_option(FILE *err, const option_spec &option, const char *text,
			  serial_rule rule)
{
	std::fputs("uenv: invalid serial setting ", err);
	print_option(err, option);
	std::fprintf(err, " %s: ", text);
	print_serial_rule(err, rule);
	std::fputc('\n', err);
	return exit_invalid_serial;
}

// A number for a one-byte field; one that does not fit breaks the field's
// rule anyway.
int parse_serial_byte(const option_spec &option, const char *text, serial_rule rule,
		      __u8 &field, FILE *err)
{
	std::uint32_t number = 0;
	if (!parse_number(text, number) || number > 0xff)
		return invalid_serial_option(err, option, text, rule);
	field = static_cast<__u8>(number);
	return exit_ok;
}

// ---- The command line -------------------------------------------------

enum option_id { opt_device, opt_help, opt_value_only, opt_port, opt_baud, opt_parity, opt_bits,
		 opt_tty, opt_rts };

// Every command takes the global options too, wherever its own may stand.
#define UENV_GLOBAL_OPTIONS {opt_device, "device", '\0', true}, {opt_help, "help", 'h', false}
constexpr option_spec global_options[] = {UENV_GLOBAL_OPTIONS};
constexpr option_spec get_options[] = {UENV_GLOBAL_OPTIONS, {opt_value_only, nullptr, 'n', false}};
constexpr option_spec serial_options[] = {
	UENV_GLOBAL_OPTIONS,
	{opt_port, "port", '\0', true}, {opt_baud, "baud", '\0', true},
	{opt_parity, "parity", '\0', true}, {opt_bits, "bits", '\0', true},
	{opt_tty, "tty", '\0', true}, {opt_rts, "rts", '\0', false},
};
#undef UENV_GLOBAL_OPTIONS

// What the parse has seen so far.
struct parse_state {
	bool done = false;		// --help, or a failure: no more parsing
	// The serial form's options, to refuse them beside --tty.
	const option_spec *serial_form_option = nullptr;
	bool terminal_form = false;
};

int take_serial_option(const option_spec &option, const char *value, command &cmd,
		       parse_state &state, FILE *err)
{
	if (option.id == opt_tty) {
		state.terminal_form = true;
		cmd.serial.mode = UENV_SERIAL_MODE_TTY;
		return parse_serial_byte(option, value, serial_rule::port, cmd.serial.port, err);
	}
	state.serial_form_option = &option;
	switch (option.id) {
	case opt_rts:
		cmd.serial.flow = UENV_FLOW_RTSCTS;
		return exit_ok;
	case opt_port:
		return parse_serial_byte(option, value, serial_rule::port, cmd.serial.port, err);
	case opt_bits:
		return parse_serial_byte(option, value, serial_rule::data_bits, cmd.serial.data_bits,
					 err);
	case opt_baud:
		if (!parse_number(value, cmd.serial.baud))
			return invalid_serial_option(err, option, value, serial_rule::baud);
		return exit_ok;
	default: {
		const char *letter = value[0] != '\0' && value[1] == '\0'
			? std::strchr(parity_letters, value[0]) : nullptr;
		if (letter == nullptr)
			return invalid_serial_option(err, option, value, serial_rule::parity);
		cmd.serial.parity = static_cast<__u8>(letter - parity_letters);
		return exit_ok;
	}
	}
}

struct subcommand {
	const char *name;
	const option_spec *options;	// the global ones included
	std::size_t option_count;
	// Takes the words after the options (argv[i] on).
	int (*take_operands)(int argc, char *const argv[], int i, bool after_double_dash,
			     command &cmd, const parse_state &state, FILE *err);
	action what;
	bool double_dash_ends;		// "--" ends the options
};

int take_list_operands(int argc, char *const argv[], int i, bool, command &, const parse_state &,
		       FILE *err)
{
	if (i < argc)
		return usage_error(uenv_voice, err, "list takes no argument ('%s')", argv[i]);
	return exit_ok;
}

// The keys stay in argv, so nothing is allocated.
int take_get_operands(int argc, char *const argv[], int i, bool after_double_dash, command &cmd,
		      const parse_state &, FILE *err)
{
	cmd.keys = argv + i;
	cmd.key_count = static_cast<std::size_t>(argc - i);
	for (; i < argc; ++i) {
		const char *arg = argv[i];
		if (!after_double_dash && arg[0] == '-' && arg[1] != '\0') {
			if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
				cmd.what = action::help;
				return exit_ok;
			}
			return usage_error(uenv_voice, err, "get: options go before the keys ('%s')",
					   arg);
		}
		int status = check_key(uenv_voice, arg, err);
		if (status != exit_ok)
			return status;
	}
	if (cmd.key_count == 0)
		return usage_error(uenv_voice, err, "get needs at least one key");
	if (cmd.value_only && cmd.key_count != 1)
		return usage_error(uenv_voice, err, "get -n prints one value: give exactly one key");
	return exit_ok;
}

// Every word after the key belongs to the value, whatever it looks like.
int take_set_operands(int argc, char *const argv[], int i, bool, command &cmd,
		      const parse_state &, FILE *err)
{
	if (i >= argc)
		return usage_error(uenv_voice, err, "set needs a key");
	int status = check_key(uenv_voice, argv[i], err);
	if (status != exit_ok)
		return status;
	cmd.keys = argv + i;
	cmd.key_count = 1;
	++i;
	status = join_words(uenv_voice, argv + i, static_cast<std::size_t>(argc - i), cmd.value,
			    cmd.value_length, err);
	if (status != exit_ok)
		return status;
	return check_value_fits(uenv_voice, cmd.keys[0], std::strlen(cmd.keys[0]), cmd.value_length,
				nullptr, err);
}

// cppcheck-suppress constParameterCallback ; every operand handler's signature
int take_serial_operands(int argc, char *const argv[], int i, bool, command &cmd,
			 const parse_state &state, FILE *err)
{
	if (i < argc)
		return usage_error(uenv_voice, err, "serial takes options only ('%s')", argv[i]);
	if (state.terminal_form && state.serial_form_option != nullptr)
		return usage_error(uenv_voice, err,
				   "--tty writes the terminal form tty<N>; --%s does not apply to it",
				   state.serial_form_option->long_name);
	return report_broken_serial_rule(cmd.serial, err);
}

constexpr subcommand subcommands[] = {
	{"list", global_options, count_of(global_options), take_list_operands, action::list, false},
	{"get", get_options, count_of(get_options), take_get_operands, action::get, true},
	{"set", global_options, count_of(global_options), take_set_operands, action::set, true},
	{"serial", serial_options, count_of(serial_options), take_serial_operands, action::serial,
	 false},
};

// The options up to the first word that is none: the global ones, then
// those of `command` (null before the command's name). --help, or a
// failure, ends the parse (state.done).
int take_options(option_reader &words, command &cmd, const subcommand *command,
		 parse_state &state, FILE *err)
{
	const option_spec *specs = command != nullptr ? command->options : global_options;
	std::size_t count = command != nullptr ? command->option_count : count_of(global_options);
	for (;;) {
		option_event e = words.read(specs, count);
		state.done = true;
		switch (e.what) {
		case option_event::end:
		case option_event::operand:
			state.done = false;
			return exit_ok;
		case option_event::unknown:
			if (command == nullptr) {
				// The command's name comes next, or an unknown option.
				--words.next;
				state.done = false;
				return exit_ok;
			}
			return usage_error(uenv_voice, err, "%s: unknown option '%s'", command->name,
					   e.word);
		case option_event::missing_value:
		case option_event::unexpected_value:
			if (e.spec->id == opt_device)
				return usage_error(uenv_voice, err, "--device needs a path");
			return usage_error(uenv_voice, err, "--%s needs a value", e.spec->long_name);
		case option_event::option:
			break;
		}
		if (e.spec->id == opt_help) {
			cmd.what = action::help;
			return exit_ok;
		}
		if (e.spec->id == opt_device) {
			if (e.value[0] == '\0')
				return usage_error(uenv_voice, err, "--device needs a path");
			cmd.device_path = e.value;
		} else if (e.spec->id == opt_value_only) {
			cmd.value_only = true;
		} else {
			int status = take_serial_option(*e.spec, e.value, cmd, state, err);
			if (status != exit_ok)
				return status;
		}
		state.done = false;
	}
}

} // namespace

command::~command()
{
	std::free(value);
}

int parse_command_line(int argc, char *const argv[], command &cmd, FILE *err)
{
	parse_state state;
	option_reader words(argc, argv, option_forms::exact);
	int status = take_options(words, cmd, nullptr, state, err);
	if (state.done)
		return status;
	if (words.next >= argc) {
		cmd.what = action::list;
		return exit_ok;
	}
	const char *name = argv[words.next++];
	const subcommand *command = nullptr;
	for (const subcommand &candidate : subcommands) {
		if (std::strcmp(name, candidate.name) == 0)
			command = &candidate;
	}
	if (command == nullptr) {
		if (name[0] == '-' && name[1] != '\0')
			return usage_error(uenv_voice, err, "unknown option '%s'", name);
		return usage_error(uenv_voice, err, "unknown command '%s'", name);
	}
	cmd.what = command->what;
	if (command->what == action::serial)
		cmd.serial = default_serial_config();
	words.double_dash_ends = command->double_dash_ends;
	status = take_options(words, cmd, command, state, err);
	if (state.done)
		return status;
	return command->take_operands(argc, argv, words.next, words.double_dash_seen, cmd, state,
				      err);
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

int report_device_error(FILE *err, const command &cmd, const char *operation, const char *key,
			int error)
{
	return uenv::device_error(uenv_voice, cmd.device_path, operation, key, error, err);
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
		return report_device_error(err, cmd, "list", nullptr, error);
	return exit_ok;
}

int run_get(const command &cmd, kelenv *env, FILE *out, FILE *err)
{
	int status = exit_ok;
	for (std::size_t k = 0; k < cmd.key_count; ++k) {
		const char *key = cmd.keys[k];
		char *value = nullptr;
		int length = kelenv_get_alloc(env, key, &value);
		if (length == -ENOENT) {
			std::fprintf(err, "uenv: %s: not in the environment\n", key);
			status = exit_key_absent;
			continue;
		}
		if (length < 0)
			return report_device_error(err, cmd, "get", key, length);
		print_entry(out, key, value, cmd.value_only);
		std::free(value);
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
					     : report_device_error(err, cmd, "set", key, error);
	case EPERM:
		return report_read_only(uenv_voice, nullptr, key, err);
	case ENOSPC:
		return report_full(err);
	case E2BIG:	// a long value, and a driver without change sets
		report_device_error(err, cmd, "set", key, error);
		return exit_too_long;
	default:
		return report_device_error(err, cmd, "set", key, error);
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
		return report_device_error(err, cmd, "serial", nullptr, error);
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
	print_change_limits(out, "Keys", "KEY");
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

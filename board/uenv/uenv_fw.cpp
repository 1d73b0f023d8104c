// fw_printenv and fw_setenv through the driver: U-Boot's command lines,
// kelenv's calls.
#include "uenv.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace uenv {

fw_command::~fw_command()
{
	std::free(names);
	std::free(value);
}

const char *fw_tool_name(fw_tool tool)
{
	return tool == fw_tool::setenv ? "fw_setenv" : "fw_printenv";
}

namespace {

const voice printenv_voice = {"fw_printenv", "name", "illegal character '=' in variable name \"%.*s\"",
			      "Try 'fw_printenv -h'.", false, kelenv_strerror};
const voice setenv_voice = {"fw_setenv", "name", "illegal character '=' in variable name \"%.*s\"",
			    "Try 'fw_setenv -h'.", false, kelenv_strerror};

const voice &voice_of(fw_tool tool)
{
	return tool == fw_tool::setenv ? setenv_voice : printenv_voice;
}

// Those of U-Boot's tools (-l is the lock file of its older ones). The
// first letters differ, so any prefix of a long name is unambiguous.
constexpr option_spec fw_options[] = {
	{'c', "config", 'c', true}, {'f', "defenv", 'f', true}, {'l', "lock", 'l', true},
	{'s', "script", 's', true}, {'n', "no-header", 'n', false}, {'h', "help", 'h', false},
	{'V', "version", 'V', false},
};

// What an option does to the command; those that describe the flash get
// a note, so that a script learns they are not used.
void take_fw_option(fw_tool tool, const option_spec &option, const char *value, fw_command &cmd,
		    FILE *err)
{
	const char *name = fw_tool_name(tool);
	switch (option.id) {
	case 'c':
		std::fprintf(err, "%s: -c %s ignored: through " UENV_DEVICE_PATH ", the driver knows "
			     "where the environment lies in flash\n", name, value);
		return;
	case 'f':
		std::fprintf(err, "%s: -f %s ignored: through " UENV_DEVICE_PATH ", the driver has "
			     "its own default environment\n", name, value);
		return;
	case 'l':
		std::fprintf(err, "%s: -l %s ignored: through " UENV_DEVICE_PATH ", the driver "
			     "serialises changes without a lock file\n", name, value);
		return;
	case 's':
		if (tool == fw_tool::setenv)
			cmd.script = value;
		else
			std::fprintf(err, "%s: -s %s ignored: scripts are for fw_setenv\n", name,
				     value);
		return;
	case 'n':
		if (tool == fw_tool::printenv)
			cmd.value_only = true;
		else
			std::fprintf(err, "%s: -n ignored: it is for fw_printenv\n", name);
		return;
	case 'h':
		cmd.help = true;
		return;
	case 'V':
		cmd.version = true;
		return;
	default:
		return;
	}
}

// fw_setenv NAME VALUE...: the words joined by single blanks, as U-Boot's
// fw_setenv does.
int take_setenv_words(fw_command &cmd, FILE *err)
{
	if (cmd.name_count == 0)
		return exit_ok;
	int status = check_key(setenv_voice, cmd.names[0], err);
	if (status == exit_ok)
		status = join_words(setenv_voice, const_cast<char *const *>(cmd.names + 1),
				    cmd.name_count - 1, cmd.value, cmd.value_length, err);
	if (status != exit_ok)
		return status;
	return check_value_fits(setenv_voice, cmd.names[0], std::strlen(cmd.names[0]),
				cmd.value_length, nullptr, err);
}

} // namespace

// As getopt_long: options anywhere before "--", grouped short ones ("-nc
// FILE"), values attached or in the next word, long names shortened. An
// unknown option is reported and skipped, as U-Boot's tools do.
int parse_fw_command_line(fw_tool tool, int argc, char *const argv[], fw_command &cmd,
			  FILE *err)
{
	const voice &tool_voice = voice_of(tool);
	const char *name = tool_voice.program;
	cmd.tool = tool;
	std::free(cmd.names);
	cmd.name_count = 0;
	cmd.names = static_cast<const char **>(
		std::calloc(argc > 0 ? static_cast<std::size_t>(argc) : 1, sizeof *cmd.names));
	if (cmd.names == nullptr) {
		std::fprintf(err, "%s: out of memory\n", name);
		return exit_failure;
	}
	option_reader words(argc, argv, option_forms::getopt);
	for (option_event e = words.read(fw_options); e.what != option_event::end;
	     e = words.read(fw_options)) {
		switch (e.what) {
		case option_event::operand:
			cmd.names[cmd.name_count++] = e.word;
			continue;
		case option_event::unknown:
			if (e.word != nullptr)
				std::fprintf(err, "%s: unrecognized option '%s'\n", name, e.word);
			else
				std::fprintf(err, "%s: invalid option -- '%c'\n", name, e.letter);
			continue;
		case option_event::unexpected_value:
			std::fprintf(err, "%s: option '--%s' doesn't allow an argument\n", name,
				     e.spec->long_name);
			continue;
		case option_event::missing_value:
			if (e.word != nullptr)
				return usage_error(tool_voice, err, "option '--%s' requires an argument",
						   e.spec->long_name);
			return usage_error(tool_voice, err, "option requires an argument -- '%c'",
					   e.letter);
		case option_event::option:
		case option_event::end:
			break;
		}
		take_fw_option(tool, *e.spec, e.value, cmd, err);
		if (cmd.help || cmd.version)
			return exit_ok;
	}
	if (tool != fw_tool::setenv)
		return exit_ok;
	if (cmd.script != nullptr) {
		if (cmd.name_count > 0)
			std::fprintf(err, "%s: with -s, the words '%s'... are ignored\n", name,
				     cmd.names[0]);
		return exit_ok;
	}
	return take_setenv_words(cmd, err);
}

script_line parse_script_line(const char *line, std::size_t length)
{
	if (length > 0 && line[length - 1] == '\r')
		--length;
	const char *end = line + length;
	const char *p = line;
	while (p < end && (*p == ' ' || *p == '\t'))
		++p;
	script_line parsed;
	if (p == end || *p == '#')
		return parsed;
	parsed.name = p;
	while (p < end && *p != '=' && *p != ' ' && *p != '\t')
		++p;
	parsed.name_length = static_cast<std::size_t>(p - parsed.name);
	if (p < end && *p == '=') {
		++p;
	} else {
		while (p < end && (*p == ' ' || *p == '\t'))
			++p;
	}
	parsed.value = p;
	parsed.value_length = static_cast<std::size_t>(end - p);
	if (parsed.name_length == 0)
		parsed.what = script_line::empty_name;
	else if (parsed.name_length > max_key_length)
		parsed.what = script_line::name_too_long;
	// KEY=VALUE and its NUL in the block's room for strings.
	// cppcheck-suppress knownConditionTrueFalse ; it misreads the loops above
	else if (parsed.name_length + parsed.value_length + 2 > UENV_STRINGS_MAX)
		parsed.what = script_line::value_too_long;
	else
		parsed.what = script_line::change;
	return parsed;
}

namespace {

// Calls `take(number, line, length)` for each line of a script, the last
// one with or without its newline, until it returns non-zero.
template <typename Take>
int for_each_line(const char *script, std::size_t length, Take take)
{
	std::size_t number = 0;
	for (const char *line = script, *end = script + length; line < end;) {
		const char *newline = static_cast<const char *>(
			std::memchr(line, '\n', static_cast<std::size_t>(end - line)));
		const char *line_end = newline != nullptr ? newline : end;
		int status = take(++number, line, static_cast<std::size_t>(line_end - line));
		if (status != exit_ok)
			return status;
		line = line_end + 1;
	}
	return exit_ok;
}

// `out` is the walk's context.
int print_listed(const char *key, const char *value, void *out)
{
	std::fprintf(static_cast<FILE *>(out), "%s=%s\n", key, value);
	return 0;
}

// A NAME that is not there prints "NAME=" (with -n an empty line) and is
// no failure: what U-Boot's fw_printenv does today, and what scripts test.
int run_printenv(const fw_command &cmd, kelenv *env, FILE *out, FILE *err)
{
	if (cmd.name_count == 0) {
		int error = kelenv_foreach(env, print_listed, out);
		return error == 0 ? exit_ok
				  : device_error(printenv_voice, UENV_DEVICE_PATH, "list", nullptr, error,
						 err);
	}
	for (std::size_t i = 0; i < cmd.name_count; ++i) {
		const char *name = cmd.names[i];
		char *value = nullptr;
		int length = kelenv_get_alloc(env, name, &value);
		// An empty name, a name with '=' or too long for a key is in no
		// environment either.
		if (length < 0 && length != -ENOENT && length != -EINVAL && length != -ENAMETOOLONG)
			return device_error(printenv_voice, UENV_DEVICE_PATH, "get", name, length, err);
		if (!cmd.value_only)
			std::fprintf(out, "%s=", name);
		std::fprintf(out, "%s\n", length >= 0 ? value : "");
		std::free(value);
	}
	return exit_ok;
}

// One change: an empty value deletes, and an absent key is nothing to
// delete. Returns 0 or the negative errno value.
int make_change(kelenv *env, const char *key, const char *value)
{
	if (value[0] != '\0')
		return kelenv_set(env, key, value);
	int error = kelenv_delete(env, key);
	return error == -ENOENT ? 0 : error;
}

// `where` is null or "line N".
int report_refused_change(const char *where, const char *key, int error, FILE *err)
{
	if (error == -EPERM)
		return report_read_only(setenv_voice, where, key, err);
	std::fprintf(err, "fw_setenv: %s%s%s: %s\n", where != nullptr ? where : "",
		     where != nullptr ? ": " : "", key, kelenv_strerror(error));
	return exit_status_of(error);
}

// Where each change of a script came from.
struct script_change {
	std::size_t line;
	const char *name;	// in the script, not terminated
	std::size_t name_length;
};

void report_script_not_applied(FILE *err)
{
	std::fputs("fw_setenv: nothing was changed: a script is applied whole or not at all\n", err);
}

// The script's changes into `changes`, in order, each noted in `origins`.
int collect_script(const char *script, std::size_t length, kelenv_changes *changes,
		   script_change *origins, std::size_t &count, FILE *err)
{
	// The longest line, terminated, for the key and the value.
	char *scratch = static_cast<char *>(std::malloc(length + 2));
	if (scratch == nullptr) {
		std::fputs("fw_setenv: out of memory\n", err);
		return exit_failure;
	}
	count = 0;
	int status = for_each_line(script, length, [&](std::size_t number, const char *text,
						       std::size_t text_length) {
		script_line line = parse_script_line(text, text_length);
		if (line.what == script_line::nothing)
			return static_cast<int>(exit_ok);
		std::memcpy(scratch, line.name, line.name_length);
		scratch[line.name_length] = '\0';
		char *value = scratch + line.name_length + 1;
		std::memcpy(value, line.value, line.value_length);
		value[line.value_length] = '\0';
		int error = kelenv_changes_set(changes, scratch, value);
		if (error == -E2BIG) {
			std::fprintf(err, "fw_setenv: line %zu: the script's changes take more than %d "
				     "bytes, more than the driver applies at once\n", number,
				     UENV_CHANGES_MAX);
			return static_cast<int>(exit_too_long);
		}
		if (error != 0) {
			std::fprintf(err, "fw_setenv: line %zu: %s\n", number, kelenv_strerror(error));
			return exit_status_of(error);
		}
		origins[count++] = {number, line.name, line.name_length};
		return static_cast<int>(exit_ok);
	});
	std::free(scratch);
	return status;
}

// The whole script is one change set: the driver checks the environment it
// makes, then writes it to flash once, or changes nothing.
int run_script(const char *script, std::size_t length, kelenv *env, FILE *err)
{
	std::size_t lines = 1;
	for (std::size_t i = 0; i < length; ++i)
		lines += script[i] == '\n' ? 1 : 0;
	kelenv_changes *changes = nullptr;
	auto *origins = static_cast<script_change *>(std::malloc(lines * sizeof(script_change)));
	if (origins == nullptr || kelenv_changes_new(&changes) != 0) {
		std::free(origins);
		std::fputs("fw_setenv: out of memory\n", err);
		return exit_failure;
	}
	std::size_t count = 0;
	int status = collect_script(script, length, changes, origins, count, err);
	if (status == exit_ok) {
		std::size_t refused = count;
		int error = kelenv_apply(env, changes, &refused);
		if (error != 0 && refused < count) {
			const script_change &change = origins[refused];
			char where[32], key[UENV_KEY_LEN] = {};
			std::snprintf(where, sizeof where, "line %zu", change.line);
			std::memcpy(key, change.name, change.name_length);
			status = report_refused_change(where, key, error, err);
		} else if (error != 0) {
			status = device_error(setenv_voice, UENV_DEVICE_PATH, "script", nullptr, error,
					      err);
		}
		if (error != 0)
			report_script_not_applied(err);
	}
	kelenv_changes_free(changes);
	std::free(origins);
	return status;
}

} // namespace

int check_fw_script(const char *script, std::size_t length, FILE *err)
{
	return for_each_line(script, length, [err](std::size_t number, const char *text,
						   std::size_t text_length) {
		if (std::memchr(text, '\0', text_length) != nullptr) {
			std::fprintf(err, "fw_setenv: script line %zu holds a NUL byte\n", number);
			return static_cast<int>(exit_usage);
		}
		script_line line = parse_script_line(text, text_length);
		char where[32];
		std::snprintf(where, sizeof where, "script line %zu", number);
		switch (line.what) {
		case script_line::nothing:
		case script_line::change:
			return static_cast<int>(exit_ok);
		case script_line::empty_name:
			return report_key_problem(setenv_voice, key_problem::empty, line.name, 0, where,
						  err);
		case script_line::name_too_long:
			return report_key_problem(setenv_voice, key_problem::too_long, line.name,
						  line.name_length, where, err);
		case script_line::value_too_long:
			return check_value_fits(setenv_voice, line.name, line.name_length,
						line.value_length, where, err);
		}
		return static_cast<int>(exit_usage);
	});
}

int run_fw_command(const fw_command &cmd, const char *script, std::size_t script_length,
		   kelenv *env, FILE *out, FILE *err)
{
	if (cmd.tool == fw_tool::printenv)
		return run_printenv(cmd, env, out, err);
	if (cmd.script != nullptr)
		return run_script(script, script_length, env, err);
	if (cmd.name_count == 0)
		return exit_ok;
	int error = make_change(env, cmd.names[0], cmd.value);
	return error == 0 ? static_cast<int>(exit_ok)
			  : report_refused_change(nullptr, cmd.names[0], error, err);
}

void print_fw_help(fw_tool tool, FILE *out)
{
	if (tool == fw_tool::printenv) {
		std::fputs(
"Usage: fw_printenv [-n] [NAME]...\n"
"Prints the boot loader's (U-Boot's) environment through " UENV_DEVICE_PATH ", as U-Boot's\n"
"fw_printenv does: every name=value in the environment's order, or NAME=value\n"
"for each NAME. A NAME that is not in the environment prints NAME= and is no\n"
"failure.\n"
"\n"
"  -n, --no-header       print the values of the NAMEs alone\n", out);
	} else {
		std::fputs(
"Usage: fw_setenv NAME [VALUE...]\n"
"       fw_setenv -s FILE\n"
"Changes the boot loader's (U-Boot's) environment through " UENV_DEVICE_PATH ", one flash\n"
"write per command, as U-Boot's fw_setenv does:\n"
"  NAME VALUE...         set NAME to the VALUE words joined by single blanks\n"
"  NAME                  delete NAME (nothing to do if absent)\n"
"  -s, --script FILE     one change per line of FILE ('-': standard input):\n"
"                        \"NAME VALUE\" or \"NAME=VALUE\"; a NAME alone deletes it;\n"
"                        empty lines and lines starting with '#' are skipped.\n"
"                        The script is applied whole, with one flash write,\n"
"                        or not at all: a line the driver refuses (named in\n"
"                        the message) changes nothing.\n", out);
	}
	std::fputs(
"  -c, --config FILE     accepted and ignored: the driver knows where the\n"
"                        environment lies in flash\n"
"  -f, --defenv FILE     accepted and ignored: the driver has its own default\n"
"  -l, --lock DIR        accepted and ignored: the driver serialises changes\n"
"  -h, --help            show this text\n"
"  -V, --version         print the version\n"
"\n", out);
	print_change_limits(out, "Names", "NAME");
	std::fputs("\nExit status:\n", out);
	for (const exit_status_info &status : exit_statuses)
		std::fprintf(out, "  %d  %s\n", status.status, status.meaning);
}

} // namespace uenv

#include "command_line.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "uenv.h"

namespace uenv {
namespace {

const option_spec *find_letter(const option_spec *specs, std::size_t count, char letter)
{
	for (std::size_t i = 0; i < count; ++i) {
		if (specs[i].letter == letter)
			return &specs[i];
	}
	return nullptr;
}

// `name` has `length` characters; getopt forms take any prefix of a long name.
const option_spec *find_long(const option_spec *specs, std::size_t count, const char *name,
			     std::size_t length, option_forms forms)
{
	if (length == 0)
		return nullptr;
	for (std::size_t i = 0; i < count; ++i) {
		const char *long_name = specs[i].long_name;
		if (long_name == nullptr || std::strncmp(long_name, name, length) != 0)
			continue;
		if (long_name[length] == '\0' ||
		    (forms == option_forms::getopt && length < std::strlen(long_name)))
			return &specs[i];
	}
	return nullptr;
}

option_event event(option_event::kind what, const option_spec *spec = nullptr,
		   const char *value = nullptr)
{
	option_event e;
	e.what = what;
	e.spec = spec;
	e.value = value;
	return e;
}

} // namespace

// `spec` (null: unknown) with its value: `attached` (after '=', or the rest
// of a group), else the next word.
option_event option_reader::take(const option_spec *spec, const char *attached)
{
	if (spec == nullptr)
		return event(option_event::unknown);
	if (!spec->takes_value)
		return event(attached != nullptr ? option_event::unexpected_value
						 : option_event::option, spec);
	if (attached != nullptr)
		return event(option_event::option, spec, attached);
	if (next < argc)
		return event(option_event::option, spec, argv[next++]);
	return event(option_event::missing_value, spec);
}

option_event option_reader::read(const option_spec *specs, std::size_t count)
{
	if (group != nullptr) {		// within "-abc"
		char letter = *group++;
		const option_spec *spec = find_letter(specs, count, letter);
		const char *rest = *group != '\0' ? group : nullptr;
		if (rest == nullptr || (spec != nullptr && spec->takes_value))
			group = nullptr;
		option_event e = take(spec, spec != nullptr && spec->takes_value ? rest : nullptr);
		e.letter = letter;
		return e;
	}
	if (next >= argc)
		return event(option_event::end);

	const char *word = argv[next];
	if (double_dash_seen || word[0] != '-' || word[1] == '\0') {
		if (forms == option_forms::exact)
			return event(option_event::end);
		option_event e = event(option_event::operand);
		e.word = argv[next++];
		return e;
	}
	++next;
	if (std::strcmp(word, "--") == 0 && (forms == option_forms::getopt || double_dash_ends)) {
		double_dash_seen = true;
		return forms == option_forms::exact ? event(option_event::end) : read(specs, count);
	}
	if (word[1] != '-' && forms == option_forms::getopt) {
		group = word + 1;
		return read(specs, count);
	}
	option_event e;
	if (word[1] != '-') {
		e = take(word[2] == '\0' ? find_letter(specs, count, word[1]) : nullptr, nullptr);
	} else {
		const char *name = word + 2;
		const char *equals = std::strchr(name, '=');
		std::size_t length = equals != nullptr ? static_cast<std::size_t>(equals - name)
						       : std::strlen(name);
		e = take(find_long(specs, count, name, length, forms),
			 equals != nullptr ? equals + 1 : nullptr);
		// Exact forms know no "--flag=VALUE": that is no option of theirs.
		if (e.what == option_event::unexpected_value && forms == option_forms::exact)
			e = event(option_event::unknown);
	}
	e.word = word;
	return e;
}

void print_option(FILE *out, const option_spec &spec)
{
	if (spec.long_name != nullptr)
		std::fprintf(out, "--%s", spec.long_name);
	else
		std::fprintf(out, "-%c", spec.letter);
}

key_problem check_key(const char *key)
{
	std::size_t length = std::strlen(key);
	if (length == 0)
		return key_problem::empty;
	if (std::strchr(key, '=') != nullptr)
		return key_problem::has_equals;
	if (length > max_key_length)
		return key_problem::too_long;
	return key_problem::none;
}

namespace {

void print_where(FILE *err, const voice &tool, const char *where)
{
	std::fprintf(err, "%s: ", tool.program);
	if (where != nullptr)
		std::fprintf(err, "%s: ", where);
}

void print_usage_hint(const voice &tool, FILE *err)
{
	if (tool.usage_hint != nullptr)
		std::fprintf(err, "%s\n", tool.usage_hint);
}

} // namespace

int report_key_problem(const voice &tool, key_problem problem, const char *key,
		       std::size_t length, const char *where, FILE *err)
{
	const int key_width = static_cast<int>(length);
	print_where(err, tool, where);
	switch (problem) {
	case key_problem::none:
		break;
	case key_problem::empty:
		std::fprintf(err, "the %s is empty\n", tool.noun);
		if (tool.hint_after_bad_key)
			print_usage_hint(tool, err);
		return exit_usage;
	case key_problem::has_equals:
		std::fprintf(err, tool.equals_format, key_width, key);  // NOLINT(clang-diagnostic-format-nonliteral)
		std::fputc('\n', err);
		if (tool.hint_after_bad_key)
			print_usage_hint(tool, err);
		return exit_usage;
	case key_problem::too_long:
		if (where != nullptr)
			std::fprintf(err, "the %s is %zu characters long", tool.noun, length);
		else
			std::fprintf(err, "%s '%.*s' is %zu characters long", tool.noun, key_width, key,
				     length);
		std::fprintf(err, "; %ss hold at most %zu\n", tool.noun, max_key_length);
		return exit_too_long;
	}
	return exit_ok;
}

int check_key(const voice &tool, const char *key, FILE *err)
{
	key_problem problem = check_key(key);
	if (problem == key_problem::none)
		return exit_ok;
	return report_key_problem(tool, problem, key, std::strlen(key), nullptr, err);
}

int join_words(const voice &tool, char *const *words, std::size_t count, char *&value,
	       std::size_t &length, FILE *err)
{
	length = 0;
	for (std::size_t i = 0; i < count; ++i)
		length += std::strlen(words[i]) + (i > 0 ? 1 : 0);
	std::free(value);
	value = static_cast<char *>(std::malloc(length + 1));
	if (value == nullptr) {
		std::fprintf(err, "%s: out of memory\n", tool.program);
		return exit_failure;
	}
	std::size_t at = 0;
	for (std::size_t i = 0; i < count; ++i) {
		if (i > 0)
			value[at++] = ' ';
		std::size_t word_length = std::strlen(words[i]);
		std::memcpy(value + at, words[i], word_length);
		at += word_length;
	}
	value[at] = '\0';
	return exit_ok;
}

int check_value_fits(const voice &tool, const char *key, std::size_t key_length,
		     std::size_t value_length, const char *where, FILE *err)
{
	// KEY=VALUE and its NUL, in the room the block has for strings.
	std::size_t most = UENV_STRINGS_MAX - 2 - key_length;
	if (value_length <= most)
		return exit_ok;
	print_where(err, tool, where);
	std::fprintf(err, "the value is %zu characters long; with the %s %.*s, values hold at most "
		     "%zu\n", value_length, tool.noun, static_cast<int>(key_length), key, most);
	return exit_too_long;
}

int usage_error(const voice &tool, FILE *err, const char *format, ...)
{
	va_list args;
	va_start(args, format);
	std::fprintf(err, "%s: ", tool.program);
	std::vfprintf(err, format, args);  // NOLINT(clang-analyzer-valist.Uninitialized): started above
	std::fputc('\n', err);
	va_end(args);
	print_usage_hint(tool, err);
	return exit_usage;
}

int device_error(const voice &tool, const char *path, const char *operation, const char *key,
		 int error, FILE *err)
{
	std::fprintf(err, "%s: %s: %s%s%s: %s\n", tool.program, path, operation,
		     key != nullptr ? " " : "", key != nullptr ? key : "", tool.reason(error));
	return error == -ENODEV ? exit_device_gone : exit_failure;
}

int report_read_only(const voice &tool, const char *where, const char *key, FILE *err)
{
	print_where(err, tool, where);
	std::fprintf(err, "%s: read-only key; only ", key);
	print_changeable_keys(err);
	std::fputs(" can be changed\n", err);
	return exit_read_only;
}

int exit_status_of(int error)
{
	switch (-error) {
	case 0:
		return exit_ok;
	case EPERM:
		return exit_read_only;
	case ENOSPC:
		return exit_env_full;
	case ENODEV:
		return exit_device_gone;
	case E2BIG:
		return exit_too_long;
	default:
		return exit_failure;
	}
}

} // namespace uenv

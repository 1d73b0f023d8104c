// What uenv, fw_printenv and fw_setenv share in reading their command
// lines and in saying what went wrong: one option reader, one key check,
// one joining of words, one report of a device error. Each tool keeps its
// own wording (uenv's, or that of U-Boot's tools) in a `voice`.
#ifndef UENV_COMMAND_LINE_H
#define UENV_COMMAND_LINE_H

#include <cstddef>
#include <cstdio>

namespace uenv {

// How a tool words its messages.
struct voice {
	const char *program;		// "uenv", "fw_printenv", "fw_setenv"
	const char *noun;		// what it calls a key: "key" or "name"
	// Printed with the key when it holds '='.
	const char *equals_format;
	// After a bad command line, e.g. "Try 'uenv --help'.", or null.
	const char *usage_hint;
	bool hint_after_bad_key;	// an empty key or one with '=' is a bad command line
	// What a failed device call means, for `device_error`.
	const char *(*reason)(int error);
};

// ---- Options --------------------------------------------------------------

struct option_spec {
	int id;				// the tool's own name for it
	const char *long_name;		// without "--"; null when there is none
	char letter;			// '\0' when there is none
	bool takes_value;
};

// How a tool reads its words:
// - exact: options stand before the operands ("--name VALUE",
//   "--name=VALUE", "-x"), the first operand ends them, "--" too where the
//   tool says so;
// - getopt: as getopt_long, options anywhere before "--", short ones
//   grouped ("-nc FILE"), values attached or in the next word, long names
//   shortened to any prefix (the first match wins).
enum class option_forms { exact, getopt };

struct option_event {
	enum kind {
		option,		// `spec`, with `value` when it takes one
		operand,	// `word` (getopt forms)
		end,		// no more options: argv[reader.next] is the first operand, if any
		unknown,	// `word`, or `letter` within a group
		missing_value,	// `spec` needs a value and the words ran out
		unexpected_value,	// getopt forms: "--name=VALUE" for `spec` that takes none
	};
	kind what = end;
	const option_spec *spec = nullptr;
	const char *value = nullptr;
	const char *word = nullptr;	// the word of a long option, or an operand
	char letter = '\0';		// the letter of a short option in a group
};

struct option_reader {
	int argc;
	char *const *argv;
	option_forms forms;
	bool double_dash_ends = false;	// exact forms: "--" ends the options
	int next = 1;			// the next word to read
	bool double_dash_seen = false;
	const char *group = nullptr;	// getopt forms: the rest of "-abc"

	option_reader(int count, char *const *words, option_forms how, int first = 1)
		: argc(count), argv(words), forms(how), next(first)
	{
	}

	// The next option among `specs` (`count` of them).
	option_event read(const option_spec *specs, std::size_t count);
	template <std::size_t n> option_event read(const option_spec (&specs)[n])
	{
		return read(specs, n);
	}

private:
	option_event take(const option_spec *spec, const char *attached);
};

// "-x" or "--name", as the tools print an option.
void print_option(FILE *out, const option_spec &spec);

// ---- Keys, values, errors ------------------------------------------------

// Keys travel NUL-terminated in their 64-byte field.
constexpr std::size_t max_key_length = 63;

enum class key_problem { none, empty, has_equals, too_long };
key_problem check_key(const char *key);

// Describes `problem` with the `length` characters of `key` in the tool's
// voice, after "where: " when `where` is not null (e.g. "script line 3");
// returns the exit status.
int report_key_problem(const voice &tool, key_problem problem, const char *key,
		       std::size_t length, const char *where, FILE *err);

// The key's check and its report in one; exit_ok when it is good.
int check_key(const voice &tool, const char *key, FILE *err);

// The `count` words joined by single blanks into `value` (from malloc(),
// terminated; the caller frees it), as U-Boot's fw_setenv joins them.
// exit_ok, or exit_failure after saying that memory ran out.
int join_words(const voice &tool, char *const *words, std::size_t count, char *&value,
	       std::size_t &length, FILE *err);

// Whether KEY=VALUE, `key_length` and `value_length` characters, can fit in
// the environment's block at all; if not, says so ("PROGRAM: [WHERE: ]the
// value is N characters long; ...") and returns exit_too_long.
int check_value_fits(const voice &tool, const char *key, std::size_t key_length,
		     std::size_t value_length, const char *where, FILE *err);

// "PROGRAM: MESSAGE", then the tool's usage hint; returns exit_usage.
__attribute__((format(printf, 3, 4)))
int usage_error(const voice &tool, FILE *err, const char *format, ...);

// "PROGRAM: PATH: OPERATION[ KEY]: REASON" for the negative errno value
// `error` of a device call; returns its exit status.
int device_error(const voice &tool, const char *path, const char *operation, const char *key,
		 int error, FILE *err);

// "PROGRAM: [WHERE: ]KEY: read-only key; only ... can be changed".
int report_read_only(const voice &tool, const char *where, const char *key, FILE *err);

// The exit status for a device call's negative errno value.
int exit_status_of(int error);

} // namespace uenv

#endif // UENV_COMMAND_LINE_H

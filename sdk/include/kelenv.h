/*
 * kelenv: the boot loader's (U-Boot's) environment through /dev/env, for
 * applications in C and C++. Link the static library `kelenv`.
 *
 * Every function returns 0 (or a length or count) on success and a negative
 * errno value on failure; kelenv_strerror() names it in the driver's terms.
 * A handle is one open file on the device and serves one thread at a time.
 *
 *	kelenv *env;
 *	char ip[KELENV_VALUE_SIZE];
 *	int n = kelenv_open(&env, NULL, O_RDONLY);
 *	if (n == 0) {
 *		n = kelenv_get(env, "serverip", ip, sizeof ip);
 *		kelenv_close(env);
 *	}
 *	if (n < 0)
 *		fprintf(stderr, "serverip: %s\n", kelenv_strerror(n));
 */
#ifndef KELENV_H
#define KELENV_H

#include <fcntl.h>	/* O_RDONLY, O_RDWR */
#include <stddef.h>

#include "kel_ubootenv.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * A buffer that always holds a key and its NUL, and the longest key a
 * change may carry (keys have 1 to 63 characters).
 */
#define KELENV_KEY_SIZE		(UENV_KEY_LEN + 1)
#define KELENV_KEY_MAX		(UENV_KEY_LEN - 1)
/*
 * What the 256-byte value of the driver's first records carries:
 * kelenv_get() into a buffer of KELENV_VALUE_SIZE gets any value of up to
 * KELENV_VALUE_MAX characters whole (and shows a longer one as cut), and
 * kelenv_set() sends a value of up to KELENV_VALUE_MAX in one record, a
 * longer one as a change set. Values may be longer: kelenv_get_whole(),
 * kelenv_get_alloc().
 */
#define KELENV_VALUE_SIZE	(UENV_VALUE_LEN + 1)
#define KELENV_VALUE_MAX	UENV_VALUE_LEN

typedef struct kelenv kelenv;

/*
 * Opens the device at `path` (NULL: UENV_DEVICE_PATH) with `flags` O_RDONLY,
 * enough for reading, or O_RDWR, which changes need (the driver refuses
 * them on a read-only file with -EBADF). On success *env is the handle.
 */
int kelenv_open(kelenv **env, const char *path, int flags);

/*
 * Another device than a file, for tests: each operation calls `ioctl` with
 * the driver's request and record, and it returns 0 or a negative errno
 * value, as the driver would. kelenv_close() calls `close` (if not NULL).
 */
struct kelenv_ops {
	int (*ioctl)(void *context, unsigned long request, void *record);
	void (*close)(void *context);
};
int kelenv_open_ops(kelenv **env, const struct kelenv_ops *ops, void *context);

/* Closes the file and frees the handle; NULL is allowed. */
void kelenv_close(kelenv *env);

/*
 * The value of `key`, as snprintf() fills a buffer: at most size - 1
 * characters and a NUL (nothing when size is 0). Returns the value's full
 * length: a result >= size means the value was cut. -ENOENT: the key is
 * not there. A driver without whole values (-ENOTTY) hands over at most
 * 256 characters, and 256 is then the length of any longer value.
 */
int kelenv_get(kelenv *env, const char *key, char *value, size_t size);

/*
 * The whole value of `key` and its NUL into `value` (size bytes). Returns
 * the value's length. -ERANGE when size is not more than the length:
 * nothing is written, and *needed (when not NULL) is the length + 1, so
 * that the caller can retry; *needed is set on success too. -ENOENT: no
 * such key. On a driver without the command (-ENOTTY) the 256-byte record
 * of UENV_IOC_GET serves a value it carries whole (up to 255 characters,
 * with its NUL in the record); a record that the value fills gives
 * -EOVERFLOW: the value may be longer than the driver can hand over.
 * -EPROTO: the driver's answer does not add up (a module that takes
 * unknown commands for done and answers nothing).
 */
int kelenv_get_whole(kelenv *env, const char *key, char *value, size_t size, size_t *needed);

/*
 * The same into a buffer from malloc(): on success *value is the whole
 * value, terminated (free() it), and the result its length.
 */
int kelenv_get_alloc(kelenv *env, const char *key, char **value);

/*
 * Changes or adds `key`; the change is in flash when the call returns.
 * A NULL or empty value deletes the key (kelenv_delete). Refused before the
 * device is asked: -EINVAL for an empty key or one holding '=',
 * -ENAMETOOLONG for a key of more than 63 characters, -E2BIG for a value
 * that could never fit in the block (key + value + 2 > UENV_STRINGS_MAX).
 * A value of more than 256 characters goes as a change set of one; a
 * driver without change sets refuses it with -E2BIG. The driver answers
 * -EPERM for a read-only key, -ENOSPC when the environment is full.
 */
int kelenv_set(kelenv *env, const char *key, const char *value);

/*
 * Deletes `key`. The driver would store "KEY=" for an absent key, so the
 * key is looked up first and an absent one is left alone: -ENOENT, or
 * -EPERM if the driver would refuse to delete it anyway. (Another program
 * deleting the key between the two calls leaves "KEY=".)
 */
int kelenv_delete(kelenv *env, const char *key);

/* 1 for the keys the driver lets change (UENV_PERMITTED_KEYS), else 0. */
int kelenv_changeable(const char *key);

/* The number of keys. */
int kelenv_count(kelenv *env);

/*
 * The key at `index` (from 0, in the environment's order) into `key` as
 * kelenv_get() fills a value; returns its length. -ENOENT past the end.
 */
int kelenv_key_at(kelenv *env, unsigned int index, char *key, size_t size);

/*
 * Calls `visit` for each key and its whole value (NUL-terminated), in the
 * environment's order, from one snapshot of the environment
 * (UENV_IOC_LIST). Returns 0 at the end, the first non-zero result of
 * `visit` (the walk stops there), or an error. A driver without the list
 * is walked key by key: a change by another program meanwhile is no error
 * there, a key deleted during the walk is skipped, and each value follows
 * kelenv_get_whole()'s rules (-EOVERFLOW ends the walk). -EPROTO as for
 * kelenv_get_whole().
 */
typedef int (*kelenv_visitor)(const char *key, const char *value, void *context);
int kelenv_foreach(kelenv *env, kelenv_visitor visit, void *context);

/*
 * A change set: changes collected in order, applied by kelenv_apply() all
 * or none, with one flash write (UENV_IOC_CHANGE). A set serves one thread
 * at a time; it may be applied more than once, on any handle.
 */
typedef struct kelenv_changes kelenv_changes;
int kelenv_changes_new(kelenv_changes **changes);
void kelenv_changes_free(kelenv_changes *changes);	/* NULL allowed */

/*
 * Adds "set key to value" (NULL or "" deletes; deleting an absent key is
 * nothing to do). Refused at once, the set unchanged: -EINVAL an empty key
 * or one holding '=', -ENAMETOOLONG a key of more than 63 characters,
 * -E2BIG a change that could never fit in the block (key + value + 2 >
 * UENV_STRINGS_MAX) or a set that would pass UENV_CHANGES_MAX bytes (each
 * change takes key + value + 2). -ENOMEM.
 */
int kelenv_changes_set(kelenv_changes *changes, const char *key, const char *value);
int kelenv_changes_delete(kelenv_changes *changes, const char *key);
size_t kelenv_changes_count(const kelenv_changes *changes);

/*
 * Applies the set; an empty set does nothing. On a refusal (-EPERM a
 * read-only key, -ENOSPC no room, -EINVAL) nothing has changed and
 * *refused (when not NULL) is the index of the refused change, counted
 * from 0 in the order they were added; on success and on errors that no
 * one change caused (-EBADF, -EIO, ...) it is the number of changes. On a
 * driver without change sets (-ENOTTY): a set of one change whose value
 * the old record carries (up to 256 characters) goes through UENV_IOC_SET
 * (a delete as kelenv_delete does it, an absent key being nothing to do);
 * anything more gives -EOPNOTSUPP, nothing changed.
 */
int kelenv_apply(kelenv *env, const kelenv_changes *changes, size_t *refused);

/*
 * Writes the serial console `config` into "bootargs" (UENV_IOC_SERIAL).
 * -EINVAL: a setting the driver refuses, or a bootargs holding no console
 * it can rewrite; -ENOENT: no bootargs.
 */
int kelenv_serial(kelenv *env, const struct uboot_serial_config *config);

/* What a negative errno value of these functions means, e.g. -EPERM
 * "read-only key". Never NULL. */
const char *kelenv_strerror(int error);

#ifdef __cplusplus
}
#endif

#endif /* KELENV_H */

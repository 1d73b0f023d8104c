// SPDX-License-Identifier: GPL-2.0
/*
 * kelubootenv: the boot loader's environment block in flash.
 *
 * At probe the 4096-byte block is read from flash (falling back to the copy
 * U-Boot handed over in a boot tag, then to a built-in default), parsed
 * into a list of entries and its console setting is rectified. User space
 * reads it and changes a few permitted keys through the ioctls of /dev/env;
 * every change is written back to flash at once. /proc/driver/uenv is a
 * debugging aid.
 */

#include <linux/module.h>
#include <linux/version.h>
#include <linux/kernel.h>
#include <linux/init.h>
#include <linux/slab.h>
#include <linux/string.h>
#include <linux/ctype.h>
#include <linux/list.h>
#include <linux/crc32.h>
#include <linux/semaphore.h>
#include <linux/kref.h>
#include <linux/fs.h>
#include <linux/stat.h>
#include <linux/poll.h>
#include <linux/miscdevice.h>
#include <linux/platform_device.h>
#include <linux/proc_fs.h>
#include <linux/mtd/mtd.h>
#include <linux/uaccess.h>
#if defined(CONFIG_ARM) && !defined(MODULE)
#include <asm/setup.h>
#endif

#include "kel_ubootenv.h"
#include "klmr.h"

#define UENV_BLOCK_SIZE		4096
#define UENV_DATA_OFFSET	4
#define UENV_DATA_SIZE		(UENV_BLOCK_SIZE - UENV_DATA_OFFSET)
/* UENV_STRINGS_MAX (kel_ubootenv.h) is UENV_DATA_SIZE - 1. */
#define UENV_FLASH_OFFSET	0x2f000
#define UENV_PROC_NAME		"driver/uenv"
#define UENV_PROC_CMD_LEN	64

#define ATAG_ENVIRONMENTVALUE	0x564a05b2

#ifndef UENV_BUILD_DATE
#define UENV_BUILD_DATE		__DATE__
#define UENV_BUILD_TIME		__TIME__
#endif

#define UENV_SRC		"ubootenv/kel_ubootenv"

#define uenv_info(fmt, ...) \
	printk("\033[0;32m[K] " fmt "\n\033[m", ##__VA_ARGS__)
#define uenv_warn_in(func, fmt, ...) \
	printk("\033[1;33m[K] %s|%s|%d: " fmt "\n\033[m", \
	       UENV_SRC, func, __LINE__, ##__VA_ARGS__)
#define uenv_warn(fmt, ...) uenv_warn_in(__func__, fmt, ##__VA_ARGS__)
#define uenv_err_in(func, fmt, ...) \
	printk("\033[0;31m[K] ERROR|%s|%s|%d: " fmt "\n\033[m", \
	       UENV_SRC, func, __LINE__, ##__VA_ARGS__)
#define uenv_err(fmt, ...) uenv_err_in(__func__, fmt, ##__VA_ARGS__)
/* The device commands report as the dispatcher that runs them. */
#define uenv_ioctl_err(fmt, ...) \
	uenv_err_in("uboot_env_fops_ioctl", fmt, ##__VA_ARGS__)

struct uboot_env_entry {
	struct list_head list;
	char *key;
	char *value;
};

struct uboot_env_manager {
	const char *name;
	struct semaphore sem;		/* serialises everything below */
	struct miscdevice misc;
	struct platform_device *pdev;
	struct list_head list;
	u32 count;
	struct proc_dir_entry *proc;
	/* The device and every open file hold a reference. */
	struct kref refs;
	/* Unbound: files still open get -ENODEV. */
	bool removed;
	/* flash_env holds what flash holds, so equal blocks are not rewritten. */
	bool flash_known;
	u8 flash_env[UENV_BLOCK_SIZE];
};

static u8 g_env[UENV_BLOCK_SIZE];
static struct uboot_env_manager *uhandle;

static const char default_environment[] =
	"bootargs=mem=42M console=ttyS0,115200\0"
	"bootcmd=tftp 0x80400000 $(bootfile);bootm 0x80400000;\0"
	"default=cramfsload 0x80400000 uImage;cramfsload 0x80800000 ramdisk.gz\0"
	"sec=tftp 0x80400000 uImage_sec;tftp 0x80800000 ramdisk.gz;bootm 0x80400000 0x80800000;\0"
	"phyaddr0=9\0"
	"verify=n\0"
	"bootdelay=1\0"
	"baudrate=115200\0"
	"mdio_intf=mii\0"
	"ethaddr=00:1c:27:4b:00:01\0"
	"ipaddr=192.168.1.10\0"
	"serverip=192.168.1.2\0"
	"gatewayip=192.168.1.1\0"
	"netmask=255.255.255.0\0"
	"bootfile=uImage\0"
	"\0";	/* with the literal's own NUL: three zero bytes at the end */

static const char *const uboot_env_permitted_keys[] = { UENV_PERMITTED_KEYS };

static const struct uboot_serial_config uboot_default_console = {
	.mode = UENV_SERIAL_MODE_SERIAL,
	.baud = UENV_DEFAULT_BAUD,
	.data_bits = UENV_DEFAULT_DATA_BITS,
	.parity = UENV_DEFAULT_PARITY,
	.flow = 0,
	.port = UENV_DEFAULT_PORT,
};

static const u32 uboot_serial_speeds[] = { UENV_SERIAL_SPEEDS };

static int env_proc_read(char *page, char **start, off_t off, int count,
			 int *eof, void *data);
static int env_proc_write(struct file *file, const char __user *buffer,
			  unsigned long count, void *data);

/* ---- What changed in the kernel interfaces since 3.0 ---- */

#if LINUX_VERSION_CODE < KERNEL_VERSION(4, 16, 0)
#define __poll_t unsigned int
#endif

static int uenv_mtd_read(struct mtd_info *mtd, loff_t from, size_t len,
			 size_t *retlen, u_char *buf)
{
#if LINUX_VERSION_CODE >= KERNEL_VERSION(3, 4, 0)
	return mtd_read(mtd, from, len, retlen, buf);
#else
	return mtd->read(mtd, from, len, retlen, buf);
#endif
}

static int uenv_mtd_write(struct mtd_info *mtd, loff_t to, size_t len,
			  size_t *retlen, const u_char *buf)
{
#if LINUX_VERSION_CODE >= KERNEL_VERSION(3, 4, 0)
	return mtd_write(mtd, to, len, retlen, buf);
#else
	return mtd->write(mtd, to, len, retlen, buf);
#endif
}

/*
 * The proc file goes through file operations on every kernel: with
 * proc_create_data() the entry has its handlers and its data before it can
 * be reached, which 3.0's create_proc_entry() cannot offer (read_proc and
 * write_proc are filled in after the entry is visible).
 */
#if LINUX_VERSION_CODE < KERNEL_VERSION(3, 9, 0)
#define file_inode(file) ((file)->f_path.dentry->d_inode)
#endif
#if LINUX_VERSION_CODE < KERNEL_VERSION(3, 10, 0)
#define pde_data(inode) (PDE(inode)->data)
#elif LINUX_VERSION_CODE < KERNEL_VERSION(5, 17, 0)
#define pde_data(inode) PDE_DATA(inode)
#endif

static ssize_t uenv_proc_read(struct file *file, char __user *buf,
			      size_t count, loff_t *ppos)
{
	int eof = 0;

	return env_proc_read(NULL, NULL, *ppos, count, &eof,
			     pde_data(file_inode(file)));
}

static ssize_t uenv_proc_write(struct file *file, const char __user *buf,
			       size_t count, loff_t *ppos)
{
	return env_proc_write(file, buf, count, pde_data(file_inode(file)));
}

#if LINUX_VERSION_CODE >= KERNEL_VERSION(5, 6, 0)
static const struct proc_ops uenv_proc_ops = {
	.proc_read = uenv_proc_read,
	.proc_write = uenv_proc_write,
};
#else
static const struct file_operations uenv_proc_ops = {
	.owner = THIS_MODULE,
	.read = uenv_proc_read,
	.write = uenv_proc_write,
};
#endif

static struct proc_dir_entry *uenv_proc_create(void *data)
{
	return proc_create_data(UENV_PROC_NAME, S_IFREG | 0644, NULL,
				&uenv_proc_ops, data);
}

/* ---- Environment block ---- */

static u32 uboot_env_crc(const u8 *block)
{
	return ~crc32_le(~0U, block + UENV_DATA_OFFSET, UENV_DATA_SIZE);
}

/* Blocks are little-endian whatever the CPU. */
static u32 uboot_env_le32(const u8 *p)
{
	return p[0] | p[1] << 8 | p[2] << 16 | (u32)p[3] << 24;
}

static u32 uboot_env_stored_crc(const u8 *block)
{
	return uboot_env_le32(block);
}

static void uboot_env_store_crc(u8 *block)
{
	u32 crc = uboot_env_crc(block);

	block[0] = crc;
	block[1] = crc >> 8;
	block[2] = crc >> 16;
	block[3] = crc >> 24;
}

/*
 * work: the flash copy on entry, the chosen (always valid) block on return.
 * True when that is the flash copy.
 */
static bool uboot_env_select(u8 *work, const u8 *boot)
{
	u32 crc;

	crc = uboot_env_crc(work);
	if (crc == uboot_env_stored_crc(work))
		return true;
	uenv_warn_in("uboot_env_probe",
		     "*** Warning - env from flash error, using default environment from uboot. CRC %x != %x",
		     crc, uboot_env_stored_crc(work));

	memcpy(work, boot, UENV_BLOCK_SIZE);
	crc = uboot_env_crc(work);
	if (crc == uboot_env_stored_crc(work))
		return false;
	uenv_warn_in("uboot_env_probe",
		     "*** Warning - env from uboot error, using default environment. CRC %x != %x",
		     crc, uboot_env_stored_crc(work));

	memset(work, 0, UENV_BLOCK_SIZE);
	memcpy(work + UENV_DATA_OFFSET, default_environment,
	       sizeof(default_environment));
	uboot_env_store_crc(work);
	return false;
}

static void uboot_env_entry_free(struct uboot_env_entry *entry)
{
	kfree(entry->value);
	kfree(entry->key);
	kfree(entry);
}

static int uboot_env_free(struct list_head *list)
{
	struct uboot_env_entry *entry, *next;

	if (!list)
		return -EFAULT;
	/* A head never initialised (zero-filled manager) is an empty list. */
	if (list->next) {
		list_for_each_entry_safe(entry, next, list, list) {
			list_del(&entry->list);
			uboot_env_entry_free(entry);
		}
	}
	INIT_LIST_HEAD(list);
	return 0;
}

/* A new entry with copies of key and value at the tail; NULL: no memory. */
static struct uboot_env_entry *uboot_env_add(struct list_head *list, u32 *count,
					     const char *key, size_t key_len,
					     const char *value, size_t value_len)
{
	struct uboot_env_entry *entry;

	entry = kzalloc(sizeof(*entry), GFP_KERNEL);
	if (!entry)
		return NULL;
	entry->key = kstrndup(key, key_len, GFP_KERNEL);
	entry->value = kstrndup(value, value_len, GFP_KERNEL);
	if (!entry->key || !entry->value) {
		uboot_env_entry_free(entry);
		return NULL;
	}
	list_add_tail(&entry->list, list);
	(*count)++;
	return entry;
}

/*
 * Splits each key=value string at its first '=' into a new entry at the
 * tail of the list; the block is left as it is. Strings without '=' carry
 * nothing and are skipped. The first empty string (two NULs in a row) ends
 * the environment, as it does for U-Boot and its tools: what older tools
 * leave behind it when they delete in place must not come back.
 */
static int uboot_env_parse(const u8 *block, struct list_head *list, u32 *count)
{
	const char *p = (const char *)block + UENV_DATA_OFFSET;
	const char *end = (const char *)block + UENV_BLOCK_SIZE;
	const char *string_end, *eq, *next;

	for (; p < end && *p; p = next) {
		string_end = memchr(p, '\0', end - p);
		next = string_end ? string_end + 1 : end;
		if (!string_end)
			string_end = end;
		eq = memchr(p, '=', string_end - p);
		if (!eq)
			continue;
		if (eq + 1 == end)
			return 0;
		if (!uboot_env_add(list, count, p, eq - p,
				   eq + 1, string_end - (eq + 1))) {
			uboot_env_free(list);
			return -ENOMEM;
		}
	}
	return 0;
}

/* Bytes an entry takes in the data area: key, '=', value, NUL. */
static size_t uboot_env_entry_size(const char *key, const char *value)
{
	return strlen(key) + strlen(value) + 2;
}

static size_t uboot_env_used(struct list_head *list)
{
	struct uboot_env_entry *entry;
	size_t used = 0;

	list_for_each_entry(entry, list, list)
		used += uboot_env_entry_size(entry->key, entry->value);
	return used;
}

/* Packs the key=value strings that fit into room bytes; returns the bytes. */
static size_t uboot_env_put_strings(struct list_head *list, char *data,
				    size_t room)
{
	struct uboot_env_entry *entry;
	size_t off = 0, size;

	list_for_each_entry(entry, list, list) {
		size = uboot_env_entry_size(entry->key, entry->value);
		if (size > room - off)
			break;
		snprintf(data + off, room - off, "%s=%s", entry->key, entry->value);
		off += size;
	}
	return off;
}

/* block must be zero-filled; the store keeps the entries within the data area. */
static void uboot_env_serialize(struct list_head *list, u8 *block)
{
	uboot_env_put_strings(list, (char *)block + UENV_DATA_OFFSET,
			      UENV_DATA_SIZE);
	uboot_env_store_crc(block);
}

#if defined(CONFIG_ARM) && !defined(MODULE)
/* Only a driver built into the kernel image sees the boot tags. */
static int __init parse_tag_environmentvalue(const struct tag *tag)
{
	u32 words;

	if (tag->hdr.size <= 2) {
		printk("tag->hdr.size <= 2\n");
		return 0;
	}
	words = min_t(u32, tag->hdr.size - 2, UENV_BLOCK_SIZE / 4);
	memset(g_env, 0, UENV_BLOCK_SIZE);
	memcpy(g_env, &tag->u, words * 4);
	return 0;
}

__tagtable(ATAG_ENVIRONMENTVALUE, parse_tag_environmentvalue);
#endif

/* ---- Board services ---- */

static struct mtd_info *uboot_env_mtd(void)
{
	struct mtd_info *mtd = NULL;

	/* The board record is not ours to declare; only this field is known. */
	if (klmr_list)
		memcpy(&mtd, (u8 *)klmr_list + KLMR_FLASH_MTD, sizeof(mtd));
	return mtd;
}

static u8 uboot_env_board_type(void)
{
	return klmr_list ? ((u8 *)klmr_list)[KLMR_BOARD_TYPE] : 0;
}

static int uboot_env_read(u8 *block)
{
	struct mtd_info *mtd = uboot_env_mtd();
	size_t retlen = 0;
	int ret = -ENODEV;

	memset(block, 0, UENV_BLOCK_SIZE);
	if (mtd)
		ret = uenv_mtd_read(mtd, UENV_FLASH_OFFSET, UENV_BLOCK_SIZE,
				    &retlen, block);
	if (ret)
		uenv_err("Flash media checking read[%x] failed!",
			 UENV_FLASH_OFFSET);
	return ret;
}

/* Writes the block to flash; flash_env follows what flash holds. */
static int uboot_env_write(struct uboot_env_manager *m, const u8 *block)
{
	struct mtd_info *mtd;
	size_t retlen = 0;
	int ret = -ENODEV;

	mtd = uboot_env_mtd();
	if (mtd) {
		call_klmr_notifiers(KLMR_EVENT_FLASH_WRITE, mtd);
		ret = uenv_mtd_write(mtd, UENV_FLASH_OFFSET, UENV_BLOCK_SIZE,
				     &retlen, block);
	}
	if (ret) {
		m->flash_known = false;
		uenv_err("Flash media checking write[%x] failed!",
			 UENV_FLASH_OFFSET);
		return ret;
	}
	memcpy(m->flash_env, block, UENV_BLOCK_SIZE);
	m->flash_known = true;
	return 0;
}

/* ---- Entry store (callers hold m->sem) ---- */

/* Keys match whole; a record key may fill its field without a NUL. */
static struct uboot_env_entry *uboot_env_find(struct list_head *list,
					      const char *key)
{
	struct uboot_env_entry *entry;

	list_for_each_entry(entry, list, list) {
		if (!strncmp(entry->key, key,
			     min_t(size_t, strlen(entry->key) + 1, UENV_KEY_LEN)))
			return entry;
	}
	return NULL;
}

static bool uboot_env_key_permitted(const char *key)
{
	size_t key_len = strnlen(key, UENV_KEY_LEN);
	size_t i;

	for (i = 0; i < ARRAY_SIZE(uboot_env_permitted_keys); i++) {
		if (!strncmp(key, uboot_env_permitted_keys[i],
			     min(key_len, strlen(uboot_env_permitted_keys[i])) + 1))
			return true;
	}
	return false;
}

/* Changes from user space reach only the permitted keys. */
static int uboot_env_may_set(const char *key)
{
	if (uboot_env_key_permitted(key))
		return 0;
	uenv_warn_in("uboot_env_set", "set %.*s not allowed!", UENV_KEY_LEN, key);
	return -EPERM;
}

static int uboot_env_get(struct uboot_env_manager *m,
			 struct uboot_env_record *rec)
{
	struct uboot_env_entry *entry;

	entry = uboot_env_find(&m->list, rec->key);
	if (!entry) {
		uenv_info("Cannot find keyword %.*s ", UENV_KEY_LEN, rec->key);
		return -ENOENT;
	}
	memcpy(rec->value, entry->value,
	       min_t(size_t, strlen(entry->value) + 1, UENV_VALUE_LEN));
	return 0;
}

/*
 * Every changer works on a stage, a copy of the list, which replaces the
 * manager's list only once flash holds it: a refused change, a lack of
 * memory or a failed flash write leaves the list and g_env as they were,
 * which is what flash holds (or what the next write will repair).
 */
struct uboot_env_stage {
	struct list_head list;
	u32 count;
	size_t used;		/* bytes of strings, as uboot_env_used() */
};

static int uboot_env_stage_begin(struct uboot_env_manager *m,
				 struct uboot_env_stage *st)
{
	struct uboot_env_entry *entry;

	INIT_LIST_HEAD(&st->list);
	st->count = 0;
	list_for_each_entry(entry, &m->list, list) {
		if (!uboot_env_add(&st->list, &st->count,
				   entry->key, strlen(entry->key),
				   entry->value, strlen(entry->value))) {
			uboot_env_free(&st->list);
			return -ENOMEM;
		}
	}
	st->used = uboot_env_used(&st->list);
	return 0;
}

static void uboot_env_stage_end(struct uboot_env_stage *st)
{
	uboot_env_free(&st->list);
}

/*
 * Sets key (up to its NUL or 64 characters) to the value_len characters of
 * value, or deletes it when value_len is 0. An absent key with an empty
 * value is added empty only if keep_empty, as UENV_IOC_SET always did.
 */
static int uboot_env_stage_change(struct uboot_env_stage *st, const char *key,
				  const char *value, size_t value_len,
				  bool keep_empty)
{
	struct uboot_env_entry *entry = uboot_env_find(&st->list, key);
	size_t key_len = strnlen(key, UENV_KEY_LEN);
	char *copy;

	if (entry && value_len) {
		copy = kstrndup(value, value_len, GFP_KERNEL);
		if (!copy)
			return -ENOMEM;
		st->used = st->used - strlen(entry->value) + value_len;
		kfree(entry->value);
		entry->value = copy;
	} else if (entry) {
		st->used -= uboot_env_entry_size(entry->key, entry->value);
		list_del(&entry->list);
		st->count--;
		uboot_env_entry_free(entry);
	} else if (value_len || keep_empty) {
		if (!uboot_env_add(&st->list, &st->count, key, key_len,
				   value, value_len))
			return -ENOMEM;
		st->used += key_len + value_len + 2;
	}
	return 0;
}

/* The strings must leave the empty one that ends the environment. */
static bool uboot_env_stage_fits(const struct uboot_env_stage *st)
{
	return st->used <= UENV_STRINGS_MAX;
}

/* key: the change that did not fit. */
static void uboot_env_no_room(const struct uboot_env_stage *st, const char *key)
{
	uenv_warn_in("uboot_env_set", "set %.*s: no room, %zu of %d bytes!",
		     UENV_KEY_LEN, key, st->used, UENV_STRINGS_MAX);
}

/*
 * Makes the stage the manager's environment: written to flash unless flash
 * already holds exactly that block (a needless rewrite wears the flash and
 * risks the environment on a power cut), then swapped in with g_env.
 */
static int uboot_env_commit(struct uboot_env_manager *m,
			    struct uboot_env_stage *st)
{
	u8 *block;
	int ret = 0;

	block = kzalloc(UENV_BLOCK_SIZE, GFP_KERNEL);
	if (!block)
		return -ENOMEM;
	uboot_env_serialize(&st->list, block);
	if (!m->flash_known || memcmp(m->flash_env, block, UENV_BLOCK_SIZE))
		ret = uboot_env_write(m, block);
	if (!ret) {
		memcpy(g_env, block, UENV_BLOCK_SIZE);
		uboot_env_free(&m->list);
		list_splice_init(&st->list, &m->list);
		m->count = st->count;
	}
	kfree(block);
	return ret;
}

/*
 * Changes, adds or (with an empty value) deletes key and writes the
 * environment back. value_len may pass the record's 256 characters: the
 * console rewrite stores a long "bootargs" whole.
 */
static int uboot_env_store(struct uboot_env_manager *m, const char *key,
			   const char *value, size_t value_len)
{
	struct uboot_env_stage st;
	int ret;

	ret = uboot_env_stage_begin(m, &st);
	if (!ret)
		ret = uboot_env_stage_change(&st, key, value, value_len, true);
	if (!ret && !uboot_env_stage_fits(&st)) {
		uboot_env_no_room(&st, key);
		ret = -ENOSPC;
	}
	if (!ret)
		ret = uboot_env_commit(m, &st);
	uboot_env_stage_end(&st);
	return ret;
}

static int uboot_env_set(struct uboot_env_manager *m,
			 const struct uboot_env_record *rec)
{
	return uboot_env_may_set(rec->key) ?:
	       uboot_env_store(m, rec->key, rec->value,
			       strnlen(rec->value, UENV_VALUE_LEN));
}

/*
 * The form of every change, before any is applied: a key of 1 to 63
 * characters without '=' (what a block gives back as the same key) and a
 * value, both NUL-terminated within the size; a key user space may set.
 */
static int uboot_env_changes_check(const char *changes, size_t size,
				   u32 *refused)
{
	const char *p = changes, *end = changes + size;
	const char *key_end, *value_end;
	u32 i;

	for (i = 0; p < end; i++, p = value_end + 1) {
		key_end = memchr(p, '\0', end - p);
		value_end = key_end ?
			memchr(key_end + 1, '\0', end - (key_end + 1)) : NULL;
		if (!value_end || key_end == p || key_end - p >= UENV_KEY_LEN ||
		    memchr(p, '=', key_end - p)) {
			*refused = i;
			return -EINVAL;
		}
		if (uboot_env_may_set(p)) {
			*refused = i;
			return -EPERM;
		}
	}
	return 0;
}

/*
 * A change set: the changes applied in order, all of them or none, with at
 * most one flash write. When the result does not fit, *refused names the
 * change after the last state that fitted: the one that overflowed the
 * environment for good.
 */
static int uboot_env_change(struct uboot_env_manager *m, const char *changes,
			    size_t size, u32 *refused)
{
	const char *p, *value, *end = changes + size;
	const char *after_fit = changes;
	struct uboot_env_stage st;
	u32 i, last_fit = 0;
	size_t value_len;
	int ret;

	ret = uboot_env_changes_check(changes, size, refused);
	if (ret)
		return ret;
	ret = uboot_env_stage_begin(m, &st);
	for (i = 0, p = changes; !ret && p < end; i++) {
		value = p + strlen(p) + 1;
		value_len = strlen(value);
		ret = uboot_env_stage_change(&st, p, value, value_len, false);
		p = value + value_len + 1;
		if (uboot_env_stage_fits(&st)) {
			last_fit = i + 1;
			after_fit = p;
		}
	}
	if (!ret && !uboot_env_stage_fits(&st)) {
		uboot_env_no_room(&st, after_fit);
		*refused = last_fit;
		ret = -ENOSPC;
	}
	if (!ret)
		ret = uboot_env_commit(m, &st);
	uboot_env_stage_end(&st);
	return ret;
}

/* ---- Console setting in "bootargs" ---- */

static bool uboot_serial_config_valid(const struct uboot_serial_config *cfg)
{
	size_t i;

	if (cfg->mode > UENV_SERIAL_MODE_TTY)
		return false;
	if (cfg->data_bits < UENV_DATA_BITS_MIN ||
	    cfg->data_bits > UENV_DATA_BITS_MAX)
		return false;
	if (cfg->parity >= sizeof(UENV_PARITY_LETTERS) - 1 ||
	    cfg->flow > UENV_FLOW_RTSCTS || cfg->port > UENV_PORT_MAX)
		return false;
	for (i = 0; i < ARRAY_SIZE(uboot_serial_speeds); i++) {
		if (cfg->baud == uboot_serial_speeds[i])
			return true;
	}
	return false;
}

/*
 * The console spec starts at the "tty" at offset tty of the len-character
 * value. Returns the offset at which the rest of the value begins, or 0
 * when what follows "tty" is no console spec.
 */
static size_t uboot_console_spec_end(const char *v, size_t len, size_t tty)
{
	size_t q = tty + 3;

	if (q < len && isdigit(v[q]))
		return q + 1;				/* ttyN */
	if (q + 2 >= len || v[q] != 'S' || !isdigit(v[q + 1]) ||
	    v[q + 2] != ',')
		return 0;
	for (q += 2; q < len && !isdigit(v[q]); q++)
		;
	if (q == len)
		return 0;				/* no speed after the comma */
	while (q < len && isdigit(v[q]))
		q++;
	if (q < len && (v[q] == 'n' || v[q] == 'o' || v[q] == 'e')) {
		if (q + 1 >= len || v[q + 1] < '5' || v[q + 1] > '8')
			return 0;
		return q + 2 < len && v[q + 2] == 'r' ? q + 3 : q + 2;
	}
	return q;
}

/*
 * Rewrites the console spec of the value held in a buffer of size bytes,
 * in place: a record's 256-byte field, which a longer spec cuts at its
 * end, or a buffer with room for the whole of a stored value. Only a "tty"
 * in the first 256 characters is taken, as in the record.
 */
static int uboot_env_uart_set(char *value, size_t size,
			      const struct uboot_serial_config *cfg)
{
	char *tty, *tail;
	char spec[16];
	size_t len, pos, tail_pos, spec_end;
	int spec_len, ret = 0;

	if (!value || !cfg || !uboot_serial_config_valid(cfg))
		return -EINVAL;
	tail = kzalloc(size, GFP_KERNEL);
	if (!tail)
		return -ENOMEM;

	len = strnlen(value, size);
	tty = strnstr(value, "tty", min_t(size_t, len, UENV_VALUE_LEN));
	if (!tty) {
		uenv_err("invaild bootargs found!");
		ret = -EINVAL;
		goto out;
	}
	pos = tty - value;
	tail_pos = uboot_console_spec_end(value, len, pos);
	if (!tail_pos) {
		uenv_err("invalid bootargs!");
		ret = -EINVAL;
		goto out;
	}

	if (cfg->mode == UENV_SERIAL_MODE_SERIAL)
		spec_len = snprintf(spec, sizeof(spec), "S%c,%u%c%d%s",
				    '0' + cfg->port, cfg->baud,
				    UENV_PARITY_LETTERS[cfg->parity], cfg->data_bits,
				    cfg->flow == UENV_FLOW_RTSCTS ? "r" : "");
	else
		spec_len = snprintf(spec, sizeof(spec), "%c", '0' + cfg->port);
	spec_end = pos + 3 + spec_len;
	if (spec_end > size) {
		uenv_err("no room for the console in bootargs!");
		ret = -EINVAL;
		goto out;
	}

	/* The whole rest of the buffer moves, so bytes past the end stay zero. */
	memcpy(tail, value + tail_pos, size - tail_pos);
	memcpy(value + pos + 3, spec, spec_len);
	memcpy(value + spec_end, tail, size - spec_end);
out:
	kfree(tail);
	return ret;
}

/* The longest serial spec after "tty" ("S0,115200n8r") replaces at least one character. */
#define UENV_CONSOLE_GROWTH	11

/*
 * Rewrites the console inside the stored "bootargs", which must exist, and
 * stores the result. The rewrite works on the whole value: a command line
 * longer than a record (mtdparts= makes them so) must not lose its end.
 * Messages carry the caller's function name.
 */
static int uboot_env_store_console(struct uboot_env_manager *m,
				   const struct uboot_serial_config *cfg,
				   const char *func)
{
	const char *old = uboot_env_find(&m->list, "bootargs")->value;
	size_t size = strlen(old) + UENV_CONSOLE_GROWTH + 1;
	char *value;
	int ret = -ENOMEM;

	value = kzalloc(size, GFP_KERNEL);
	if (value) {
		strcpy(value, old);
		ret = uboot_env_uart_set(value, size, cfg);
	}
	if (ret) {
		uenv_err_in(func, "config env uart in bootargs failed");
		goto out;
	}
	ret = uboot_env_store(m, "bootargs", value, strlen(value));
	if (ret)
		uenv_err_in(func, "update env failed!");
out:
	kfree(value);
	return ret;
}

/*
 * Puts the board's default console into "bootargs"; called with m->sem
 * held. A value too long for a record keeps whatever lies beyond its first
 * 256 characters; without a console there it is left as it is.
 */
static int uboot_bootargs_rectify(struct uboot_env_manager *m)
{
	struct uboot_env_record rec;
	struct uboot_serial_config cfg = uboot_default_console;
	size_t len;
	int ret;

	memset(&rec, 0, sizeof(rec));
	strcpy(rec.key, "bootargs");
	if ((uboot_env_board_type() & 0xf0) != 0x20)
		cfg.port = 0;

	ret = uboot_env_get(m, &rec);
	if (ret) {
		uenv_err("uboot_env_get failed %d ", ret);
		return -EINVAL;
	}
	len = strlen(uboot_env_find(&m->list, "bootargs")->value);
	if (len >= UENV_VALUE_LEN && !strnstr(rec.value, "tty", UENV_VALUE_LEN)) {
		uenv_warn("bootargs: no console in the first %d of its %zu characters, left as it is",
			  UENV_VALUE_LEN, len);
		return 0;
	}
	if (uboot_env_store_console(m, &cfg, __func__))
		return -EINVAL;
	uenv_info("uboot bootargs rectify -> (%s)",
		  uboot_env_find(&m->list, "bootargs")->value);
	return 0;
}

/* ---- /dev/env ---- */

static struct uboot_env_manager *uboot_env_file_manager(struct file *file)
{
	return container_of(file->private_data, struct uboot_env_manager, misc);
}

static void uboot_env_manager_release(struct kref *refs)
{
	kfree(container_of(refs, struct uboot_env_manager, refs));
}

static int uboot_env_fops_open(struct inode *inode, struct file *file)
{
	struct uboot_env_manager *m = uboot_env_file_manager(file);

	down(&m->sem);
	if (m->removed) {
		up(&m->sem);
		return -ENODEV;
	}
	kref_get(&m->refs);
	uhandle = m;
	up(&m->sem);
	uenv_info("Open %s", m->name);
	return 0;
}

static int uboot_env_fops_release(struct inode *inode, struct file *file)
{
	kref_put(&uboot_env_file_manager(file)->refs, uboot_env_manager_release);
	return 0;
}

static ssize_t uboot_env_fops_read(struct file *file, char __user *buf,
				   size_t count, loff_t *ppos)
{
	return 0;
}

/* Nothing is written through the file; say so rather than let writers spin. */
static ssize_t uboot_env_fops_write(struct file *file, const char __user *buf,
				    size_t count, loff_t *ppos)
{
	return -EINVAL;
}

static __poll_t uboot_env_fops_poll(struct file *file,
				    struct poll_table_struct *wait)
{
	return 0;
}

static long uboot_env_ioc_get(struct uboot_env_manager *m, void __user *argp)
{
	struct uboot_env_record rec;
	int ret;

	if (copy_from_user(&rec, argp, sizeof(rec)))
		return -EFAULT;
	ret = uboot_env_get(m, &rec);
	if (ret)
		return ret;
	if (copy_to_user(argp, &rec, sizeof(rec)))
		return -EFAULT;
	return 0;
}

static long uboot_env_ioc_set(struct uboot_env_manager *m, void __user *argp)
{
	struct uboot_env_record rec;
	int ret;

	if (copy_from_user(&rec, argp, sizeof(rec)))
		return -EFAULT;
	ret = uboot_env_set(m, &rec);
	if (ret)
		uenv_ioctl_err("set %.*s failed!", UENV_KEY_LEN, rec.key);
	return ret;
}

static long uboot_env_ioc_key_at(struct uboot_env_manager *m, void __user *argp)
{
	struct uboot_env_index_record rec;
	struct uboot_env_entry *entry;
	u32 index, pos = 0;

	/*
	 * The record may lie at any address: get_user() would load a word,
	 * which ARMv5 cannot do unaligned without the alignment trap.
	 */
	if (copy_from_user(&index, argp, sizeof(index)))
		return -EFAULT;
	if (index >= m->count)
		return -ENOENT;
	memset(&rec, 0, sizeof(rec));
	rec.index = index;
	list_for_each_entry(entry, &m->list, list) {
		if (pos++ == index) {
			memcpy(rec.key, entry->key,
			       min_t(size_t, strlen(entry->key) + 1, UENV_KEY_LEN));
			break;
		}
	}
	if (copy_to_user(argp, &rec, sizeof(rec)))
		return -EFAULT;
	return 0;
}

static long uboot_env_ioc_serial(struct uboot_env_manager *m, void __user *argp)
{
	struct uboot_env_record rec;
	struct uboot_serial_config cfg;
	int ret;

	memset(&rec, 0, sizeof(rec));
	strcpy(rec.key, "bootargs");
	if (copy_from_user(&cfg, argp, sizeof(cfg)))
		return -EFAULT;
	if (!uboot_serial_config_valid(&cfg)) {
		uenv_ioctl_err("invaild para for serial config");
		return -EINVAL;
	}
	ret = uboot_env_get(m, &rec);
	if (ret) {
		uenv_ioctl_err("get env key %s failed", rec.key);
		return ret;
	}
	return uboot_env_store_console(m, &cfg, "uboot_env_fops_ioctl");
}

/*
 * Commands 6 to 8: the caller's buffer follows its record directly, and
 * both may lie at any address. Only copy_from_user() and copy_to_user()
 * reach them: ARMv5 traps unaligned word loads and stores.
 */
static char __user *uboot_env_buffer(void __user *argp, size_t record_size)
{
	return (char __user *)argp + record_size;
}

static long uboot_env_ioc_get_value(struct uboot_env_manager *m,
				    void __user *argp)
{
	struct uboot_env_value_record rec;
	struct uboot_env_entry *entry;
	size_t size;
	long ret = 0;

	if (copy_from_user(&rec, argp, sizeof(rec)))
		return -EFAULT;
	if (!memchr(rec.key, '\0', sizeof(rec.key)))
		return -EINVAL;
	entry = uboot_env_find(&m->list, rec.key);
	if (!entry)
		return -ENOENT;
	size = strlen(entry->value) + 1;
	if (size > rec.size)
		ret = -ERANGE;
	else if (copy_to_user(uboot_env_buffer(argp, sizeof(rec)),
			      entry->value, size))
		return -EFAULT;
	rec.size = size;
	if (copy_to_user(argp, &rec, sizeof(rec)))
		return -EFAULT;
	return ret;
}

/* No change of the set was refused (it may still fail). */
#define UENV_NOT_REFUSED	(~0U)

static long uboot_env_ioc_change(struct uboot_env_manager *m,
				 void __user *argp)
{
	struct uboot_env_change_record rec;
	u32 refused = UENV_NOT_REFUSED;
	char *changes;
	long ret;

	if (copy_from_user(&rec, argp, sizeof(rec)))
		return -EFAULT;
	if (rec.size > UENV_CHANGES_MAX)
		return -E2BIG;
	changes = kmalloc(rec.size, GFP_KERNEL);
	if (!changes)
		return -ENOMEM;
	if (copy_from_user(changes, uboot_env_buffer(argp, sizeof(rec)),
			   rec.size)) {
		ret = -EFAULT;
		goto out;
	}
	ret = uboot_env_change(m, changes, rec.size, &refused);
	if (refused != UENV_NOT_REFUSED) {
		rec.refused = refused;
		if (copy_to_user(argp, &rec, sizeof(rec)))
			ret = -EFAULT;
	}
out:
	kfree(changes);
	return ret;
}

/*
 * The strings as a block packs them, in one copy: a copy_to_user() for
 * each string costs far more than the strings (ten times over on the ARM
 * board).
 */
static int uboot_env_copy_strings(struct list_head *list, size_t used,
				  char __user *to)
{
	char *strings;
	int ret = 0;

	strings = kmalloc(used, GFP_KERNEL);
	if (!strings)
		return -ENOMEM;
	uboot_env_put_strings(list, strings, used);
	if (copy_to_user(to, strings, used))
		ret = -EFAULT;
	kfree(strings);
	return ret;
}

static long uboot_env_ioc_list(struct uboot_env_manager *m, void __user *argp)
{
	struct uboot_env_list_record rec;
	size_t used;
	long ret;

	if (copy_from_user(&rec, argp, sizeof(rec)))
		return -EFAULT;
	used = uboot_env_used(&m->list);
	if (used > rec.size)
		ret = -ERANGE;
	else
		ret = uboot_env_copy_strings(&m->list, used,
					     uboot_env_buffer(argp, sizeof(rec)));
	if (ret && ret != -ERANGE)
		return ret;
	rec.size = used;
	rec.count = m->count;
	if (copy_to_user(argp, &rec, sizeof(rec)))
		return -EFAULT;
	return ret;
}

/*
 * Changes need a file opened for writing, as write(2) does: a node that is
 * readable by all, for monitoring, must not let anyone rewrite "bootargs".
 */
static int uboot_env_may_change(struct file *file)
{
	return file->f_mode & FMODE_WRITE ? 0 : -EBADF;
}

static long uboot_env_fops_ioctl(struct file *file, unsigned int cmd,
				 unsigned long arg)
{
	struct uboot_env_manager *m = uboot_env_file_manager(file);
	void __user *argp = (void __user *)arg;
	long ret;

	if (_IOC_TYPE(cmd) != UENV_IOC_TYPE)
		return -EINVAL;

	down(&m->sem);
	if (m->removed) {
		ret = -ENODEV;
		goto out;
	}
	switch (_IOC_NR(cmd)) {
	case _IOC_NR(UENV_IOC_GET):
		ret = uboot_env_ioc_get(m, argp);
		break;
	case _IOC_NR(UENV_IOC_SET):
		ret = uboot_env_may_change(file) ?: uboot_env_ioc_set(m, argp);
		break;
	case _IOC_NR(UENV_IOC_COUNT):
		/* Any address, as for the index of UENV_IOC_KEY_AT. */
		ret = copy_to_user(argp, &m->count, sizeof(m->count)) ? -EFAULT : 0;
		break;
	case _IOC_NR(UENV_IOC_KEY_AT):
		ret = uboot_env_ioc_key_at(m, argp);
		break;
	case _IOC_NR(UENV_IOC_SERIAL):
		ret = uboot_env_may_change(file) ?: uboot_env_ioc_serial(m, argp);
		break;
	case _IOC_NR(UENV_IOC_GET_VALUE):
		ret = uboot_env_ioc_get_value(m, argp);
		break;
	case _IOC_NR(UENV_IOC_CHANGE):
		ret = uboot_env_may_change(file) ?: uboot_env_ioc_change(m, argp);
		break;
	case _IOC_NR(UENV_IOC_LIST):
		ret = uboot_env_ioc_list(m, argp);
		break;
	default:
		printk("\033[0;31m[K] ERROR|%s|%s|%d: ioctl cmd[0x%x] not support!\033[m",
		       UENV_SRC, __func__, __LINE__, cmd);
		ret = -ENOTTY;
		break;
	}
out:
	up(&m->sem);
	return ret;
}

static const struct file_operations uboot_env_fops = {
	.owner = THIS_MODULE,
	.read = uboot_env_fops_read,
	.write = uboot_env_fops_write,
	.poll = uboot_env_fops_poll,
	.unlocked_ioctl = uboot_env_fops_ioctl,
	.open = uboot_env_fops_open,
	.release = uboot_env_fops_release,
};

/* ---- /proc/driver/uenv ---- */

static int env_proc_read(char *page, char **start, off_t off, int count,
			 int *eof, void *data)
{
	*eof = 1;
	return 0;
}

/* g_env as little-endian words, four to a line; the last 12 bytes are not shown. */
static void env_proc_dump(void)
{
	u32 words[4];
	int i, j;

	printk("\n=================dump env buf=================\n");
	for (i = 0; i + 16 <= UENV_BLOCK_SIZE - 16; i += 16) {
		for (j = 0; j < 4; j++)
			words[j] = uboot_env_le32(g_env + i + 4 * j);
		printk("%08x %08x %08x %08x \n",
		       words[0], words[1], words[2], words[3]);
	}
	printk("%08x \n=====================end====================\n",
	       uboot_env_le32(g_env + i));
}

static int env_proc_write(struct file *file, const char __user *buffer,
			  unsigned long count, void *data)
{
	struct uboot_env_manager *m = data;
	struct uboot_env_record rec;
	char cmd[UENV_PROC_CMD_LEN];
	char *text;
	int ret;

	if (count > UENV_PROC_CMD_LEN - 1)
		return -EFAULT;
	if (copy_from_user(cmd, buffer, count)) {
		uenv_err("copy_from_user err!");
		return -EFAULT;
	}
	cmd[count] = '\0';
	text = strim(cmd);

	switch (text[0]) {
	case 'd':
		down(&m->sem);
		env_proc_dump();
		up(&m->sem);
		break;
	case 'g':
		memset(&rec, 0, sizeof(rec));
		if (strlen(text) > 2)
			strcpy(rec.key, text + 2);
		down(&m->sem);
		if (!uhandle) {
			uenv_info("please :cat /dev/env ");
		} else {
			ret = uboot_env_get(uhandle, &rec);
			if (ret)
				uenv_err("uboot_env_get failed %d ", ret);
			else
				uenv_info("%s =%.*s", rec.key, UENV_VALUE_LEN,
					  rec.value);
		}
		up(&m->sem);
		break;
	default:
		printk("[K] This module: built on " UENV_BUILD_DATE " at "
		       UENV_BUILD_TIME ".\n");
		printk("[K] [%c]: you are seeing it\n", text[0]);
		break;
	}
	return count;
}

/* ---- Life cycle ---- */

/*
 * Fences the manager off before its parts go: files still open see
 * removed, the proc look-up no longer finds it through uhandle.
 */
static void uboot_env_retire(struct uboot_env_manager *m)
{
	down(&m->sem);
	m->removed = true;
	if (uhandle == m)
		uhandle = NULL;
	uboot_env_free(&m->list);
	up(&m->sem);
}

static int uboot_env_probe(struct platform_device *pdev)
{
	struct uboot_env_manager *m;
	bool flash_valid;
	u8 *tmp_env;
	int ret;

	m = kzalloc(sizeof(*m), GFP_KERNEL);
	if (!m) {
		uenv_err("Alloc uboot_env_manager failed !");
		return -ENOMEM;
	}
	sema_init(&m->sem, 1);
	kref_init(&m->refs);
	INIT_LIST_HEAD(&m->list);
	tmp_env = kzalloc(UENV_BLOCK_SIZE, GFP_KERNEL);
	if (!tmp_env) {
		uenv_err("Alloc tmp_env failed !");
		ret = -ENOMEM;
		goto err_release;
	}

	m->name = "Kelmora uboot env";
	platform_set_drvdata(pdev, m);
	m->pdev = pdev;
	m->misc.minor = MISC_DYNAMIC_MINOR;
	m->misc.name = "env";
	m->misc.fops = &uboot_env_fops;

	ret = uboot_env_read(tmp_env);
	if (ret) {
		uenv_err("Uboot env read fail[%d].", ret);
		goto err_release;
	}
	flash_valid = uboot_env_select(tmp_env, g_env);
	memcpy(g_env, tmp_env, UENV_BLOCK_SIZE);
	kfree(tmp_env);
	tmp_env = NULL;

	ret = uboot_env_parse(g_env, &m->list, &m->count);
	if (ret) {
		uenv_err("Parse uboot env failed(%d)!", ret);
		goto err_release;
	}
	/*
	 * Flash holds this environment, maybe with other bytes after its end
	 * or as padding: writing it back as we would serialize it changes
	 * nothing for any reader, so it is not written.
	 */
	if (flash_valid) {
		uboot_env_serialize(&m->list, m->flash_env);
		m->flash_known = true;
	}
	/*
	 * Without the rewrite the environment is still worth serving: /dev/env
	 * is the only way to read or repair it from Linux.
	 */
	down(&m->sem);
	ret = uboot_bootargs_rectify(m);
	up(&m->sem);
	if (ret)
		uenv_err("bootargs rectify failed(%d)!", ret);

	/* Only now can a command arrive: the list is complete. */
	ret = misc_register(&m->misc);
	if (ret) {
		uenv_err("Register misc driver failed(%d)!", ret);
		goto err_release;
	}
	m->proc = uenv_proc_create(m);
	if (!m->proc) {
		uenv_err("%s() Unable to create proc for ubootenv ", __func__);
		ret = -ENODEV;
		goto err_deregister;
	}

	uenv_info("UbootEnv module: built on " UENV_BUILD_DATE " at "
		  UENV_BUILD_TIME ".");
	return 0;

err_deregister:
	uboot_env_retire(m);
	misc_deregister(&m->misc);
err_release:
	uboot_env_free(&m->list);
	kfree(tmp_env);
	platform_set_drvdata(pdev, NULL);
	kref_put(&m->refs, uboot_env_manager_release);
	return ret;
}

static int uboot_env_remove(struct platform_device *pdev)
{
	struct uboot_env_manager *m = platform_get_drvdata(pdev);

	if (!m)
		return -EFAULT;
	remove_proc_entry(UENV_PROC_NAME, NULL);
	uboot_env_retire(m);
	misc_deregister(&m->misc);
	platform_set_drvdata(pdev, NULL);
	kref_put(&m->refs, uboot_env_manager_release);
	return 0;
}

static void uboot_env_release(struct device *dev)
{
}

static struct platform_device uboot_env_device = {
	.name = "kel_uenv",
	.id = 0,
	.dev = {
		.release = uboot_env_release,
	},
};

static struct platform_driver uboot_env_driver = {
	.probe = uboot_env_probe,
	.remove = uboot_env_remove,
	.driver = {
		.name = "kel_uenv",
		.owner = THIS_MODULE,
	},
};

static int __init uboot_env_init(void)
{
	int ret;

	ret = platform_device_register(&uboot_env_device);
	if (ret) {
		uenv_err("[UBOOT_ENV] device register failed !");
		return ret;
	}
	ret = platform_driver_register(&uboot_env_driver);
	if (ret)
		platform_device_unregister(&uboot_env_device);
	return ret;
}

static void __exit uboot_env_exit(void)
{
	platform_device_unregister(&uboot_env_device);
	platform_driver_unregister(&uboot_env_driver);
}

module_init(uboot_env_init);
module_exit(uboot_env_exit);

MODULE_LICENSE("GPL v2");
MODULE_DESCRIPTION("Kelmora uboot env module");
MODULE_VERSION("Kelmora Version:v1.0 Date:" UENV_BUILD_DATE);

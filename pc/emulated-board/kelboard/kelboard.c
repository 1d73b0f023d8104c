// SPDX-License-Identifier: GPL-2.0
/*
 * kelboard: the board kernel's services on the emulated board.
 *
 * The board kernel publishes a board record through klmr_list (with the
 * flash MTD device and the board-type code in it) and a notifier call that
 * drivers raise before they touch the flash.  Here the flash is an MTD
 * device: block2mtd over the x86-64 board's virtio disk, or the ARM board's
 * CFI NOR flash.
 *
 * Drivers write the environment without erasing first: the write that
 * notifier event 8 announces is a complete replacement of what it covers.
 * On NOR flash that takes reading each erase block it touches, erasing it
 * and programming it back with the new bytes in: kelboard does that, and
 * leaves a block that already holds them alone. Other writes reach the
 * flash as they are.
 *
 * The counters under /sys/module/kelboard/parameters/ let tests check the
 * drivers' side of the contract: notifier_calls, flash_writes,
 * unannounced_writes (writes not preceded by notifier event 8),
 * flash_erases, and unerased_writes (unannounced writes that would turn a
 * 0 bit back into 1, which real NOR cannot do: QEMU's flash does it).
 */

#define pr_fmt(fmt) KBUILD_MODNAME ": " fmt

#include <linux/atomic.h>
#include <linux/err.h>
#include <linux/kernel.h>
#include <linux/module.h>
#include <linux/moduleparam.h>
#include <linux/mm.h>
#include <linux/mtd/mtd.h>
#include <linux/slab.h>
#include <linux/srcu.h>
#include <linux/string.h>

#include "klmr.h"

static char *flash = "block2mtd: /dev/vda";
module_param(flash, charp, 0444);
MODULE_PARM_DESC(flash, "Name of the MTD device that holds the board's flash (x86-64 board: block2mtd's, ARM board: the NOR's)");

static unsigned char board_type = 0x10;
module_param(board_type, byte, 0444);
MODULE_PARM_DESC(board_type, "Board-type code stored in the board record");

static atomic_t notifier_calls = ATOMIC_INIT(0);
static atomic_t flash_writes = ATOMIC_INIT(0);
static atomic_t unannounced_writes = ATOMIC_INIT(0);
static atomic_t flash_erases = ATOMIC_INIT(0);
static atomic_t unerased_writes = ATOMIC_INIT(0);
/* Set by event 8, consumed by the next write. */
static atomic_t write_announced = ATOMIC_INIT(0);

static int counter_get(char *buffer, const struct kernel_param *kp)
{
	return sysfs_emit(buffer, "%d\n", atomic_read((atomic_t *)kp->arg));
}

static int counter_set(const char *val, const struct kernel_param *kp)
{
	return -EPERM;
}

static const struct kernel_param_ops counter_ops = {
	.get = counter_get,
	.set = counter_set,
};

module_param_cb(notifier_calls, &counter_ops, &notifier_calls, 0444);
MODULE_PARM_DESC(notifier_calls, "Calls of call_klmr_notifiers so far");
module_param_cb(flash_writes, &counter_ops, &flash_writes, 0444);
MODULE_PARM_DESC(flash_writes, "Writes to the flash device so far");
module_param_cb(unannounced_writes, &counter_ops, &unannounced_writes, 0444);
MODULE_PARM_DESC(unannounced_writes, "Flash writes not preceded by event 8");
module_param_cb(flash_erases, &counter_ops, &flash_erases, 0444);
MODULE_PARM_DESC(flash_erases, "Erase blocks erased for announced writes");
module_param_cb(unerased_writes, &counter_ops, &unerased_writes, 0444);
MODULE_PARM_DESC(unerased_writes, "Unannounced writes over bits NOR could not set");

void *klmr_list;
EXPORT_SYMBOL(klmr_list);

static struct mtd_info *flash_mtd;
static int (*flash_mtd_write)(struct mtd_info *mtd, loff_t to, size_t len,
			      size_t *retlen, const u_char *buf);
/* Lets unloading wait for writes that are still inside flash_write(). */
DEFINE_STATIC_SRCU(flash_write_srcu);

int call_klmr_notifiers(unsigned long event, void *data)
{
	atomic_inc(&notifier_calls);
	if (event == KLMR_EVENT_FLASH_WRITE)
		atomic_set(&write_announced, 1);
	pr_info("notifier event %lu, data %s\n", event,
		data && data == flash_mtd ? "flash" : data ? "other" : "none");
	return 0;
}
EXPORT_SYMBOL(call_klmr_notifiers);

/*
 * The announced write: each erase block it touches is read, and unless it
 * holds the new bytes already, erased and programmed back whole.
 */
static int flash_replace(struct mtd_info *mtd, loff_t to, size_t len,
			 size_t *retlen, const u_char *buf)
{
	u32 block_size = mtd->erasesize;
	loff_t block, from, upto;
	struct erase_info erase;
	size_t done;
	u8 *data;
	int ret = 0;

	data = kvmalloc(block_size, GFP_KERNEL);
	if (!data)
		return -ENOMEM;
	for (block = to - mtd_mod_by_eb(to, mtd); block < to + len;
	     block += block_size) {
		from = max(to, block);
		upto = min_t(loff_t, to + len, block + block_size);
		ret = mtd_read(mtd, block, block_size, &done, data);
		if (ret)
			break;
		if (!memcmp(data + (from - block), buf + (from - to), upto - from))
			continue;
		memcpy(data + (from - block), buf + (from - to), upto - from);
		memset(&erase, 0, sizeof(erase));
		erase.addr = block;
		erase.len = block_size;
		ret = mtd_erase(mtd, &erase);
		if (ret)
			break;
		atomic_inc(&flash_erases);
		ret = flash_mtd_write(mtd, block, block_size, &done, data);
		if (ret)
			break;
	}
	kvfree(data);
	*retlen = ret ? 0 : len;
	return ret;
}

/* True when writing buf over what the flash holds needs a 0 bit to become 1. */
static bool flash_needs_erase(struct mtd_info *mtd, loff_t to, size_t len,
			      const u_char *buf)
{
	bool needs = false;
	size_t done, i;
	u8 *old;

	old = kvmalloc(len, GFP_KERNEL);
	if (!old || mtd_read(mtd, to, len, &done, old)) {
		kvfree(old);
		return false;
	}
	for (i = 0; i < len && !needs; i++)
		needs = (old[i] & buf[i]) != buf[i];
	kvfree(old);
	return needs;
}

/*
 * Counts and logs every write, and syncs it to the backing device at once:
 * the board's NOR flash has no write cache, so a reset right after a write
 * must not lose it.
 */
static int flash_write(struct mtd_info *mtd, loff_t to, size_t len,
		       size_t *retlen, const u_char *buf)
{
	int idx;
	int announced;
	int ret;

	idx = srcu_read_lock(&flash_write_srcu);
	announced = atomic_xchg(&write_announced, 0);
	atomic_inc(&flash_writes);
	if (announced) {
		ret = flash_replace(mtd, to, len, retlen, buf);
	} else {
		atomic_inc(&unannounced_writes);
		if (flash_needs_erase(mtd, to, len, buf))
			atomic_inc(&unerased_writes);
		ret = flash_mtd_write(mtd, to, len, retlen, buf);
	}
	if (!ret && mtd->_sync)
		mtd->_sync(mtd);
	pr_info("flash write at 0x%llx, %zu bytes: %d%s\n",
		(unsigned long long)to, len, ret,
		announced ? "" : " (not announced by event 8)");
	srcu_read_unlock(&flash_write_srcu, idx);
	return ret;
}

static int __init kelboard_init(void)
{
	struct mtd_info *mtd;
	int ret;

	mtd = get_mtd_device_nm(flash);
	if (IS_ERR(mtd)) {
		pr_err("no MTD device \"%s\" (%ld)\n", flash, PTR_ERR(mtd));
		return PTR_ERR(mtd);
	}
	if (!mtd->_write || !(mtd->flags & MTD_WRITEABLE)) {
		pr_err("MTD device \"%s\" is not writable\n", flash);
		ret = -EROFS;
		goto err_put_mtd;
	}

	klmr_list = kzalloc(KLMR_RECORD_SIZE, GFP_KERNEL);
	if (!klmr_list) {
		ret = -ENOMEM;
		goto err_put_mtd;
	}
	memcpy(klmr_list + KLMR_FLASH_MTD, &mtd, sizeof(mtd));
	*(u8 *)(klmr_list + KLMR_BOARD_TYPE) = board_type;

	flash_mtd = mtd;
	flash_mtd_write = mtd->_write;
	mtd->_write = flash_write;

	pr_info("board type 0x%02x, flash \"%s\" (%llu bytes, erase size %u)\n",
		board_type, mtd->name, (unsigned long long)mtd->size,
		mtd->erasesize);
	return 0;

err_put_mtd:
	put_mtd_device(mtd);
	return ret;
}

static void __exit kelboard_exit(void)
{
	flash_mtd->_write = flash_mtd_write;
	synchronize_srcu(&flash_write_srcu);
	put_mtd_device(flash_mtd);
	kfree(klmr_list);
	klmr_list = NULL;
	pr_info("released flash \"%s\"\n", flash);
}

module_init(kelboard_init);
module_exit(kelboard_exit);

MODULE_LICENSE("GPL v2");
MODULE_DESCRIPTION("Kelmora board services for the emulated board");

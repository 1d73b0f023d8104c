// SPDX-License-Identifier: GPL-2.0
/*
 * checker_faults: commits, on request, one fault of each kind that the ARM
 * board kernel's checkers report, so that the system tests can show that
 * their runner catches every such report. A test module: it is never part
 * of the board's install tree.
 *
 *   echo KIND > /sys/kernel/debug/checker-faults
 *
 *   leak             64 bytes allocated and their address dropped
 *   sleep-in-atomic  an allocation that may sleep, under a spinlock
 *   list-corruption  an entry removed from its list twice
 *   lock-order       two mutexes taken in both orders (the lock validator
 *                    reports it and is off for the rest of the boot)
 *   hang             a semaphore taken twice: the write never returns
 *   oops             a write through a NULL pointer: the writer is killed
 */

#define pr_fmt(fmt) KBUILD_MODNAME ": " fmt

#include <linux/debugfs.h>
#include <linux/fs.h>
#include <linux/kernel.h>
#include <linux/list.h>
#include <linux/module.h>
#include <linux/mutex.h>
#include <linux/semaphore.h>
#include <linux/slab.h>
#include <linux/spinlock.h>
#include <linux/string.h>
#include <linux/uaccess.h>

#define FAULT_NAME_LEN	32

static DEFINE_SPINLOCK(atomic_lock);
static DEFINE_MUTEX(first_lock);
static DEFINE_MUTEX(second_lock);
static struct dentry *faults_file;
static int *nowhere_address;

static void commit_leak(void)
{
	void *lost = kmalloc(64, GFP_KERNEL);

	pr_info("leaking 64 bytes%s\n", lost ? "" : " failed: no memory");
}

static void commit_sleep_in_atomic(void)
{
	void *p;

	spin_lock(&atomic_lock);
	p = kmalloc(16, GFP_KERNEL);
	spin_unlock(&atomic_lock);
	kfree(p);
}

static void commit_list_corruption(void)
{
	LIST_HEAD(head);
	struct list_head entry;

	list_add(&entry, &head);
	list_del(&entry);
	list_del(&entry);
}

static void commit_lock_order(void)
{
	mutex_lock(&first_lock);
	mutex_lock(&second_lock);
	mutex_unlock(&second_lock);
	mutex_unlock(&first_lock);

	mutex_lock(&second_lock);
	mutex_lock(&first_lock);
	mutex_unlock(&first_lock);
	mutex_unlock(&second_lock);
}

static void commit_hang(void)
{
	struct semaphore sem;

	sema_init(&sem, 1);
	down(&sem);
	down(&sem);
}

static void commit_oops(void)
{
	/* Loaded, not known: the compiler may not turn the store into a trap. */
	int *nowhere = READ_ONCE(nowhere_address);

	*nowhere = 1;
}

static const struct {
	const char *name;
	void (*commit)(void);
} faults[] = {
	{ "leak", commit_leak },
	{ "sleep-in-atomic", commit_sleep_in_atomic },
	{ "list-corruption", commit_list_corruption },
	{ "lock-order", commit_lock_order },
	{ "hang", commit_hang },
	{ "oops", commit_oops },
};

static ssize_t faults_write(struct file *file, const char __user *buf,
			    size_t len, loff_t *ppos)
{
	char name[FAULT_NAME_LEN];
	size_t i;

	if (len >= sizeof(name))
		return -EINVAL;
	if (copy_from_user(name, buf, len))
		return -EFAULT;
	name[len] = '\0';
	for (i = 0; i < ARRAY_SIZE(faults); i++) {
		if (sysfs_streq(name, faults[i].name)) {
			pr_info("committing %s\n", faults[i].name);
			faults[i].commit();
			return len;
		}
	}
	return -EINVAL;
}

static const struct file_operations faults_fops = {
	.owner = THIS_MODULE,
	.write = faults_write,
};

static int __init checker_faults_init(void)
{
	faults_file = debugfs_create_file("checker-faults", 0200, NULL, NULL,
					  &faults_fops);
	return 0;
}

static void __exit checker_faults_exit(void)
{
	debugfs_remove(faults_file);
}

module_init(checker_faults_init);
module_exit(checker_faults_exit);

MODULE_LICENSE("GPL v2");
MODULE_DESCRIPTION("Faults of every kind the kernel's checkers report, for the system tests");

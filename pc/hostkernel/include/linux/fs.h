#ifndef HOSTKERNEL_LINUX_FS_H
#define HOSTKERNEL_LINUX_FS_H

#include <linux/types.h>
#include <linux/compiler.h>

struct module;
struct poll_table_struct;

typedef unsigned int fmode_t;
#define FMODE_READ	((fmode_t)0x1)
#define FMODE_WRITE	((fmode_t)0x2)

struct inode {
	unsigned int i_rdev;
	void *i_private;	/* proc files: their entry (PDE) */
};

struct dentry {
	struct inode *d_inode;
};

struct path {
	struct dentry *dentry;
};

struct file {
	const struct file_operations *f_op;
	unsigned int f_flags;
	fmode_t f_mode;
	loff_t f_pos;
	struct path f_path;
	void *private_data;
};

/* The Linux 3.0 slots a character driver fills. */
struct file_operations {
	struct module *owner;
	loff_t (*llseek)(struct file *, loff_t, int);
	ssize_t (*read)(struct file *, char __user *, size_t, loff_t *);
	ssize_t (*write)(struct file *, const char __user *, size_t, loff_t *);
	unsigned int (*poll)(struct file *, struct poll_table_struct *);
	long (*unlocked_ioctl)(struct file *, unsigned int, unsigned long);
	long (*compat_ioctl)(struct file *, unsigned int, unsigned long);
	int (*open)(struct inode *, struct file *);
	int (*release)(struct inode *, struct file *);
};

#endif

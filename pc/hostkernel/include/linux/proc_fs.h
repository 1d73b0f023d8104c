#ifndef HOSTKERNEL_LINUX_PROC_FS_H
#define HOSTKERNEL_LINUX_PROC_FS_H

#include <linux/types.h>
#include <linux/fs.h>

struct proc_dir_entry {
	const char *name;
	mode_t mode;
	const struct file_operations *proc_fops;
	void *data;
};

#ifdef __cplusplus
extern "C" {
#endif
struct proc_dir_entry *proc_create_data(const char *name, mode_t mode,
					struct proc_dir_entry *parent,
					const struct file_operations *proc_fops,
					void *data);
void remove_proc_entry(const char *name, struct proc_dir_entry *parent);
#ifdef __cplusplus
}
#endif

static inline struct proc_dir_entry *PDE(const struct inode *inode)
{
	return (struct proc_dir_entry *)inode->i_private;
}

#endif

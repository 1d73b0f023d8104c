#ifndef HOSTKERNEL_LINUX_PROC_FS_H
#define HOSTKERNEL_LINUX_PROC_FS_H

#include <linux/types.h>
#include <linux/fs.h>

typedef int (read_proc_t)(char *page, char **start, off_t off, int count,
			  int *eof, void *data);
typedef int (write_proc_t)(struct file *file, const char __user *buffer,
			   unsigned long count, void *data);

struct proc_dir_entry {
	const char *name;
	mode_t mode;
	read_proc_t *read_proc;
	write_proc_t *write_proc;
	void *data;
};

#ifdef __cplusplus
extern "C" {
#endif
struct proc_dir_entry *create_proc_entry(const char *name, mode_t mode,
					 struct proc_dir_entry *parent);
void remove_proc_entry(const char *name, struct proc_dir_entry *parent);
#ifdef __cplusplus
}
#endif

#endif

#ifndef HOSTKERNEL_LINUX_MODULE_H
#define HOSTKERNEL_LINUX_MODULE_H

#include <linux/types.h>
#include <linux/compiler.h>
#include <linux/init.h>

struct module {
	const char *name;
	int refcount;		/* files holding the module, as try_module_get counts them */
};

#ifdef __cplusplus
extern "C" {
#endif
extern struct module __this_module;
#ifdef __cplusplus
}
#endif
#define THIS_MODULE (&__this_module)

#define HOSTKERNEL_MODINFO_CAT(a, b) a##b
#define HOSTKERNEL_MODINFO_NAME(line) HOSTKERNEL_MODINFO_CAT(__modinfo_, line)
#define HOSTKERNEL_MODINFO(tag, info) \
	static const char HOSTKERNEL_MODINFO_NAME(__LINE__)[] __used = #tag "=" info
#define MODULE_LICENSE(s) HOSTKERNEL_MODINFO(license, s)
#define MODULE_DESCRIPTION(s) HOSTKERNEL_MODINFO(description, s)
#define MODULE_AUTHOR(s) HOSTKERNEL_MODINFO(author, s)
#define MODULE_VERSION(s) HOSTKERNEL_MODINFO(version, s)
#define EXPORT_SYMBOL(sym)

#endif

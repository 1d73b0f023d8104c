/* Stand-in: the ARM boot-tag list (arch/arm/include/asm/setup.h of Linux 3.0). */
#ifndef HOSTKERNEL_ASM_SETUP_H
#define HOSTKERNEL_ASM_SETUP_H

#include <linux/types.h>
#include <linux/compiler.h>

struct tag_header {
	__u32 size;	/* in 32-bit words, header included */
	__u32 tag;
};

struct tag_core {
	__u32 flags;
	__u32 pagesize;
	__u32 rootdev;
};

struct tag {
	struct tag_header hdr;
	union {
		struct tag_core core;
	} u;
};

struct tagtable {
	__u32 tag;
	int (*parse)(const struct tag *);
};

/* A named section, so the stand-in's parse_tags can walk the table. */
#define __tag __used __attribute__((__section__("hostkernel_taglist")))
#define __tagtable(tag, fn) \
	static const struct tagtable __tagtable_##fn __tag = { tag, fn }

#define tag_next(t) ((struct tag *)((__u32 *)(t) + (t)->hdr.size))

#endif

#ifndef HOSTKERNEL_LINUX_KREF_H
#define HOSTKERNEL_LINUX_KREF_H

typedef struct {
	int counter;
} atomic_t;

struct kref {
	atomic_t refcount;
};

static inline void kref_init(struct kref *kref)
{
	__atomic_store_n(&kref->refcount.counter, 1, __ATOMIC_SEQ_CST);
}

static inline void kref_get(struct kref *kref)
{
	__atomic_add_fetch(&kref->refcount.counter, 1, __ATOMIC_SEQ_CST);
}

static inline int kref_put(struct kref *kref, void (*release)(struct kref *kref))
{
	if (__atomic_sub_fetch(&kref->refcount.counter, 1, __ATOMIC_SEQ_CST) == 0) {
		release(kref);
		return 1;
	}
	return 0;
}

#endif

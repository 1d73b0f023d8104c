/* The driver's own source, compiled as the kernel would, plus accessors. */
#include "kel_ubootenv.c"

#include "kel_ubootenv_host.h"

uint32_t uenv_host_crc(const uint8_t *block)
{
	return uboot_env_crc(block);
}

void uenv_host_select(uint8_t *work, const uint8_t *boot)
{
	uboot_env_select(work, boot);
}

const char *uenv_host_default_environment(size_t *size)
{
	*size = sizeof(default_environment);
	return default_environment;
}

uint8_t *uenv_host_g_env(void)
{
	return g_env;
}

struct uboot_env_manager *uenv_host_manager_new(void)
{
	struct uboot_env_manager *m = kzalloc(sizeof(*m), GFP_KERNEL);

	if (m) {
		sema_init(&m->sem, 1);
		kref_init(&m->refs);
		INIT_LIST_HEAD(&m->list);
		m->name = "Kelmora uboot env";
	}
	return m;
}

void uenv_host_manager_delete(struct uboot_env_manager *m)
{
	uboot_env_free(&m->list);
	kfree(m);
}

int uenv_host_parse(struct uboot_env_manager *m, uint8_t *block)
{
	return uboot_env_parse(block, &m->list, &m->count);
}

void uenv_host_serialize(struct uboot_env_manager *m, uint8_t *block)
{
	uboot_env_serialize(&m->list, block);
}

int uenv_host_free_list(struct uboot_env_manager *m)
{
	return uboot_env_free(&m->list);
}

int uenv_host_free_null(void)
{
	return uboot_env_free(NULL);
}

uint32_t uenv_host_count(const struct uboot_env_manager *m)
{
	return m->count;
}

static struct uboot_env_entry *uenv_host_entry(struct uboot_env_manager *m,
					       uint32_t index)
{
	struct uboot_env_entry *entry;

	list_for_each_entry(entry, &m->list, list) {
		if (!index--)
			return entry;
	}
	return NULL;
}

size_t uenv_host_length(struct uboot_env_manager *m)
{
	struct list_head *pos;
	size_t n = 0;

	list_for_each(pos, &m->list)
		n++;
	return n;
}

const char *uenv_host_key(struct uboot_env_manager *m, uint32_t index)
{
	struct uboot_env_entry *entry = uenv_host_entry(m, index);

	return entry ? entry->key : NULL;
}

const char *uenv_host_value(struct uboot_env_manager *m, uint32_t index)
{
	struct uboot_env_entry *entry = uenv_host_entry(m, index);

	return entry ? entry->value : NULL;
}

int uenv_host_get(struct uboot_env_manager *m, struct uboot_env_record *rec)
{
	return uboot_env_get(m, rec);
}

int uenv_host_set(struct uboot_env_manager *m, const struct uboot_env_record *rec)
{
	return uboot_env_set(m, rec);
}

int uenv_host_change(struct uboot_env_manager *m, const char *changes, size_t size,
		     uint32_t *refused)
{
	return uboot_env_change(m, changes, size, refused);
}

int uenv_host_uart_set(struct uboot_env_record *rec,
		       const struct uboot_serial_config *cfg)
{
	return uboot_env_uart_set(rec ? rec->value : NULL, UENV_VALUE_LEN, cfg);
}

int uenv_host_rectify(struct uboot_env_manager *m)
{
	return uboot_bootargs_rectify(m);
}

struct platform_device *uenv_host_device(void)
{
	return &uboot_env_device;
}

struct uboot_env_manager *uenv_host_bound_manager(void)
{
	return platform_get_drvdata(&uboot_env_device);
}

struct uboot_env_manager *uenv_host_uhandle(void)
{
	return uhandle;
}

/*
 * The kelubootenv driver built for the host over the kernel stand-in, with
 * its internals reachable by tests, benchmarks and fuzzers.
 */
#ifndef KEL_UBOOTENV_HOST_H
#define KEL_UBOOTENV_HOST_H

#include <stddef.h>
#include <stdint.h>

#include "kel_ubootenv.h"

#ifdef __cplusplus
extern "C" {
#endif

struct uboot_env_manager;
struct platform_device;

enum { UENV_HOST_BLOCK_SIZE = 4096, UENV_HOST_FLASH_OFFSET = 0x2f000 };

/* Codec */
uint32_t uenv_host_crc(const uint8_t *block);
void uenv_host_select(uint8_t *work, const uint8_t *boot);
const char *uenv_host_default_environment(size_t *size);
uint8_t *uenv_host_g_env(void);

/* A manager as the probe sets it up before loading the list; flash unknown. */
struct uboot_env_manager *uenv_host_manager_new(void);
void uenv_host_manager_delete(struct uboot_env_manager *m);
int uenv_host_parse(struct uboot_env_manager *m, uint8_t *block);
void uenv_host_serialize(struct uboot_env_manager *m, uint8_t *block);
int uenv_host_free_list(struct uboot_env_manager *m);
int uenv_host_free_null(void);
uint32_t uenv_host_count(const struct uboot_env_manager *m);
size_t uenv_host_length(struct uboot_env_manager *m); /* nodes in the list */
const char *uenv_host_key(struct uboot_env_manager *m, uint32_t index);
const char *uenv_host_value(struct uboot_env_manager *m, uint32_t index);

/* Store and console rewriter (the caller stands in for the semaphore) */
int uenv_host_get(struct uboot_env_manager *m, struct uboot_env_record *rec);
int uenv_host_set(struct uboot_env_manager *m, const struct uboot_env_record *rec);
int uenv_host_change(struct uboot_env_manager *m, const char *changes, size_t size,
		     uint32_t *refused);
int uenv_host_uart_set(struct uboot_env_record *rec, const struct uboot_serial_config *cfg);
int uenv_host_rectify(struct uboot_env_manager *m);

/* Life cycle: module load and unload, as insmod and rmmod run them */
int init_module(void);
void cleanup_module(void);
struct platform_device *uenv_host_device(void);
struct uboot_env_manager *uenv_host_bound_manager(void);
struct uboot_env_manager *uenv_host_uhandle(void);

#ifdef __cplusplus
}
#endif

#endif

/* SPDX-License-Identifier: GPL-2.0 */
/*
 * The board kernel's services, as its drivers see them: the board record
 * that klmr_list points to, and the notifier call drivers raise before
 * they write the flash. The board's own kernel provides them; kelboard
 * (emulated boards) and the host stand-in (tests) provide them elsewhere.
 */
#ifndef KLMR_H
#define KLMR_H

/* Byte offsets in the board record; the rest of its layout is not ours. */
#define KLMR_RECORD_SIZE	0x200
#define KLMR_BOARD_TYPE		0x16d	/* u8 board-type code */
#define KLMR_FLASH_MTD		0x1a4	/* struct mtd_info *, unaligned */

/* Notifier event raised immediately before the environment is written. */
#define KLMR_EVENT_FLASH_WRITE	8

#ifdef __cplusplus
extern "C" {
#endif
extern void *klmr_list;
int call_klmr_notifiers(unsigned long event, void *data);
#ifdef __cplusplus
}
#endif

#endif /* KLMR_H */

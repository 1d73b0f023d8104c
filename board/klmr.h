/* SPDX-License-Identifier: GPL-2.0 */
/*
 * Services the board kernel exports to its drivers.  On the emulated board
 * the kelboard module provides them.
 */
#ifndef KLMR_H
#define KLMR_H

/* Byte offsets in the board record that klmr_list points to. */
#define KLMR_RECORD_SIZE	0x200
#define KLMR_BOARD_TYPE		0x16d	/* u8 board-type code */
#define KLMR_FLASH_MTD		0x1a4	/* struct mtd_info *, unaligned */

/* Notifier event raised immediately before the environment is written. */
#define KLMR_EVENT_FLASH_WRITE	8

extern void *klmr_list;
int call_klmr_notifiers(unsigned long event, void *data);

#endif /* KLMR_H */

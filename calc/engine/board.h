/* The calculator program's view of the machine. Every hardware access of the command
 * engine goes through this table, so the engine runs unchanged on the calculator, on the
 * PC under test (memory-backed flash) and under a user-mode emulator (file-backed flash). */
#ifndef CALC_BOARD_H
#define CALC_BOARD_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* How the program leaves. */
enum calc_leave {
  CALC_LEAVE_BIOS = 1, /* start the boot code */
  CALC_LEAVE_REBOOT = 2
};

/* Identification of the flash chip, read with its identification command. */
struct calc_flash_ids {
  uint32_t manufacturer;
  uint32_t device;
  uint32_t size; /* bytes; 0 when the chip cannot be driven */
};

/* What the program knows about how it was started. */
struct calc_start_info {
  uint32_t run_parameter;  /* word at image offset 32, as the PC filled it in */
  uint32_t return_address; /* the caller's return address (PR on entry) */
  uint32_t caller_stack;   /* the caller's stack pointer on entry */
  uint32_t stack_words[8]; /* the first words on the caller's stack (0 when unknown) */
};

/* receive_byte's answer when the link is gone for good (never on the calculator). */
#define CALC_LINK_CLOSED (-2)

struct calc_board {
  void *context;      /* passed to everything but the link */
  void *link_context; /* passed to receive_byte and send */

  /* Link: one byte within timeout_ms, or -1 (or CALC_LINK_CLOSED). */
  int (*receive_byte)(void *link_context, uint32_t timeout_ms);
  /* Link: one whole packet. */
  void (*send)(void *link_context, const uint8_t *bytes, uint32_t length);

  /* Flash, addressed as the calculator sees it (0xA0000000 + offset). The command table
   * checks every range before it calls these. Results: 0 done, nonzero failed. */
  void (*flash_identify)(void *context, struct calc_flash_ids *ids);
  int (*flash_erase_sector)(void *context, uint32_t address);
  int (*flash_program)(void *context, uint32_t address, const uint8_t *source, uint32_t length);
  void (*flash_read)(void *context, uint32_t address, uint8_t *target, uint32_t length);

  /* The RAM staging area (CALC_STAGING_START .. CALC_STAGING_END) as this machine maps it. */
  uint8_t *staging;

  /* LCD contrast: 0 done, nonzero refused. */
  int (*set_contrast)(void *context, uint32_t value);

  /* Processor version and product registers (0 where the processor has none). */
  void (*processor_ids)(void *context, uint32_t *pvr, uint32_t *prr);

  struct calc_start_info start;

  /* Never returns on the calculator. */
  void (*leave)(void *context, enum calc_leave how);
};

/* Address map shared by the PC and the program. */
#define CALC_FLASH_BASE 0xA0000000u
#define CALC_SECTOR_SIZE 0x10000u
#define CALC_STAGING_START 0x88030000u
#define CALC_STAGING_END 0x88040000u

#ifdef __cplusplus
}
#endif

#endif

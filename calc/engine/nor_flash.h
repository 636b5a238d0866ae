/* Driver for NOR flash chips with the AMD/Fujitsu standard command set on a 16-bit bus:
 * identification, CFI size query, sector erase and word programming with data polling.
 * The chip is reached through a bus table so that the driver also runs against a
 * simulated chip. */
#ifndef CALC_NOR_FLASH_H
#define CALC_NOR_FLASH_H

#include <stdint.h>

#include "board.h"

#ifdef __cplusplus
extern "C" {
#endif

struct nor_bus {
  void *context;
  /* 16-bit access at a byte offset from the chip's base. */
  uint16_t (*read)(void *context, uint32_t offset);
  void (*write)(void *context, uint32_t offset, uint16_t value);
  /* Status reads before an operation counts as timed out. */
  uint32_t poll_limit;
};

/* Manufacturer and device ids; size from the CFI query, 0 when the chip does not
 * answer it or does not use the standard command set (the program then writes nothing). */
void nor_identify(const struct nor_bus *bus, struct calc_flash_ids *ids);

/* Erases the sector at offset; 0 done, 1 failed or timed out. */
int nor_erase_sector(const struct nor_bus *bus, uint32_t offset);

/* Programs length bytes (even) from source at offset (even), as big-endian 16-bit words;
 * words of 0xFFFF are left alone. 0 done, 1 failed or timed out. */
int nor_program(const struct nor_bus *bus, uint32_t offset, const uint8_t *source, uint32_t length);

#ifdef __cplusplus
}
#endif

#endif

#include "flash_bus.h"

#include "nor_flash.h"
#include "registers.h"

/* Status reads before an erase or a word counts as failed: the data sheets give at most
 * 15 s per sector erase; a poll takes well under a microsecond. */
#define POLL_LIMIT 40000000u

static uint16_t bus_read(void *context, uint32_t offset) {
  (void)context;
  return read16(CALC_FLASH_BASE + offset);
}

static void bus_write(void *context, uint32_t offset, uint16_t value) {
  (void)context;
  write16(CALC_FLASH_BASE + offset, value);
}

static const struct nor_bus chip = {0, bus_read, bus_write, POLL_LIMIT};

void flash_identify(void *context, struct calc_flash_ids *ids) {
  (void)context;
  nor_identify(&chip, ids);
}

int flash_erase_sector(void *context, uint32_t address) {
  (void)context;
  return nor_erase_sector(&chip, address - CALC_FLASH_BASE);
}

int flash_program(void *context, uint32_t address, const uint8_t *source, uint32_t length) {
  (void)context;
  return nor_program(&chip, address - CALC_FLASH_BASE, source, length);
}

void flash_read(void *context, uint32_t address, uint8_t *target, uint32_t length) {
  (void)context;
  for (uint32_t i = 0; i < length; ++i) target[i] = read8(address + i);
}

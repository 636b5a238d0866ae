/* The calculator's flash chip at 0xA0000000 (uncached), driven by the NOR driver. */
#ifndef CALC_FLASH_BUS_H
#define CALC_FLASH_BUS_H

#include <stdint.h>

#include "board.h"

void flash_identify(void *context, struct calc_flash_ids *ids);
int flash_erase_sector(void *context, uint32_t address);
int flash_program(void *context, uint32_t address, const uint8_t *source, uint32_t length);
void flash_read(void *context, uint32_t address, uint8_t *target, uint32_t length);

#endif

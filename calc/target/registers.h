/* Memory-mapped register access for the calculator program. */
#ifndef CALC_REGISTERS_H
#define CALC_REGISTERS_H

#include <stdint.h>

static inline uint8_t read8(uint32_t address) { return *(volatile uint8_t *)address; }
static inline uint16_t read16(uint32_t address) { return *(volatile uint16_t *)address; }
static inline uint32_t read32(uint32_t address) { return *(volatile uint32_t *)address; }
static inline void write8(uint32_t address, uint8_t value) { *(volatile uint8_t *)address = value; }
static inline void write16(uint32_t address, uint16_t value) { *(volatile uint16_t *)address = value; }

/* Rough busy-wait unit: polls of a peripheral register per millisecond on the slowest
 * unit (an SH-3 at about 29 MHz; a poll is an uncached bus read plus a few instructions).
 * Faster units only wait longer; every wait here is a generous upper bound. */
#define POLLS_PER_MS 1000u

#endif

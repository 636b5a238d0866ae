/* The boot code builds the program knows by checksum and date, and the model type each
 * stands for (the same table the PC's image check uses). */
#ifndef CALC_BIOS_TABLE_H
#define CALC_BIOS_TABLE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define CALC_BIOS_UNKNOWN 0xFFFFu

/* Offsets in flash sector 0. */
#define CALC_BIOS_DATE_OFFSET 0xFFB0u
#define CALC_BIOS_DATE_LENGTH 14u
#define CALC_BIOS_ID_OFFSET 0xFFD0u
#define CALC_BIOS_ID_LENGTH 8u
#define CALC_BIOS_CHECKSUM_OFFSET 0xFFFCu

/* The first row whose date matches decides; its type counts only when the checksum
 * matches too. */
uint16_t calc_bios_type(const uint8_t date[CALC_BIOS_DATE_LENGTH], uint32_t checksum);

#ifdef __cplusplus
}
#endif

#endif

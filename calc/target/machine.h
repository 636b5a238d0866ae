/* The processor the program runs on, its identification registers, and the ways out. */
#ifndef CALC_MACHINE_H
#define CALC_MACHINE_H

#include <stdint.h>

#include "board.h"

enum processor_kind { PROCESSOR_SH3, PROCESSOR_SH4 };

/* bios_type: the type of the boot code found in the flash. SH-4A units are the GII-2 ones;
 * the run parameter's bits 4-7 can say it instead (1 SH-3, 2 SH-4A). */
enum processor_kind machine_processor(uint32_t run_parameter, uint16_t bios_type);

/* PVR and PRR of an SH-4A; 0 on an SH-3, which has neither. */
void machine_processor_ids(void *context, uint32_t *pvr, uint32_t *prr);

/* Never returns. */
void machine_leave(void *context, enum calc_leave how);

#endif

#include "machine.h"

#include "registers.h"

/* SH-4A identification registers (SH7724 Hardware Manual and SH-4A Software Manual,
 * "Processor Version Register", "Product Register"). */
#define PVR 0xFF000030u
#define PRR 0xFF000044u

/* SH7705 watchdog timer (SH7705 Group Hardware Manual, section "Watchdog Timer"): 16-bit
 * writes carry a key in the upper byte (0x5A for WTCNT, 0xA5 for WTCSR). WTCSR bits:
 * TME 7 (count), WT/IT 6 (watchdog mode), RSTS 5 (0: power-on reset), CKS 2-0 (clock). */
#define WTCNT 0xFFFFFF84u
#define WTCSR 0xFFFFFF86u
#define WTCNT_KEY 0x5A00u
#define WTCSR_KEY 0xA500u
#define WTCSR_TME 0x80u
#define WTCSR_WT 0x40u

#define BIOS_TYPE_GII2 7u

void calc_restart(void); /* start.S */

enum processor_kind machine_processor(uint32_t run_parameter, uint16_t bios_type) {
  uint32_t forced = run_parameter == 0xFFFFFFFFu ? 0 : (run_parameter >> 4) & 0xF;
  if (forced == 1) return PROCESSOR_SH3;
  if (forced == 2) return PROCESSOR_SH4;
  return bios_type == BIOS_TYPE_GII2 ? PROCESSOR_SH4 : PROCESSOR_SH3;
}

void machine_processor_ids(void *context, uint32_t *pvr, uint32_t *prr) {
  const enum processor_kind *kind = context;
  if (*kind == PROCESSOR_SH4) {
    *pvr = read32(PVR);
    *prr = read32(PRR);
  } else {
    *pvr = *prr = 0;
  }
}

/* A power-on reset through the SH-3's watchdog: stop it, preset the counter near
 * overflow, start it in watchdog mode and wait. Kept out of line: inlined, GCC 12 for
 * SuperH drops a test next to it (the image check finds such branches). */
static __attribute__((noinline)) void watchdog_reset(enum processor_kind kind) {
  if (kind != PROCESSOR_SH3) return;
  write16(WTCSR, WTCSR_KEY | WTCSR_WT);
  write16(WTCNT, WTCNT_KEY | 0xF0u);
  write16(WTCSR, WTCSR_KEY | WTCSR_WT | WTCSR_TME);
  for (uint32_t i = 0; i < 100u * POLLS_PER_MS; ++i) (void)read16(WTCSR);
}

void machine_leave(void *context, enum calc_leave how) {
  const enum processor_kind *kind = context;
  if (how == CALC_LEAVE_REBOOT) watchdog_reset(*kind);
  /* The boot code's reset entry: the BIOS start, and the reboot where no reset came. */
  calc_restart();
}

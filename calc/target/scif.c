#include "scif.h"

#include "registers.h"

/* Register offsets and bits.
 * SH-3 units (SH7337/SH7355, an SH7705 derivative): SCIF2 at 0xA4410000 ("SuperH-based fx
 * calculators" module table, fxCG20_Registers page, columns 7705/7337/7355), layout of the
 * SH7705 Group Hardware Manual, section "Serial Communication Interface with FIFO":
 * SCSSR +0x14, SCFDR +0x1C (transmit count bits 14-8, receive count bits 6-0, 64-byte
 * FIFOs), SCFTDR +0x20, SCFRDR +0x24; ORER is bit 9 of SCSSR.
 * SH-4A units (SH7305): SCIF at 0xA4410000 (same module table, column 7305), register
 * layout of the SH7724 Hardware Manual's SCIF (the closest documented relative):
 * SCFTDR +0x0C, SCFSR +0x10, SCFRDR +0x14, SCFDR +0x1C (counts in bits 12-8 and 4-0,
 * 16-byte FIFOs), SCLSR +0x24 with ORER in bit 0.
 * Status bits common to both: ER 7, TEND 6, TDFE 5, BRK 4, FER 3, PER 2, RDF 1, DR 0;
 * flags clear by writing 0 after reading 1. */
const struct scif_port scif_sh7705 = {0xA4410000u, 0x14, 0x1C, 0x20, 0x24, 0, 0x0200, 0x7F, 0x7F, 64};
const struct scif_port scif_sh7305 = {0xA4410000u, 0x10, 0x1C, 0x0C, 0x14, 0x24, 0x0001, 0x1F, 0x1F, 16};

#define SR_ER 0x80u
#define SR_TEND 0x40u
#define SR_TDFE 0x20u
#define SR_BRK 0x10u
#define SR_FER 0x08u
#define SR_PER 0x04u
#define SR_RDF 0x02u
#define SR_DR 0x01u

static void clear_status(const struct scif_port *port, uint16_t bits) {
  uint32_t reg = port->base + port->status;
  write16(reg, (uint16_t)(read16(reg) & ~bits));
}

/* A receive error stops reception until its flags are cleared; the packet layer notices
 * the lost byte through the checksum. */
static void clear_errors(const struct scif_port *port) {
  uint16_t status = read16(port->base + port->status);
  if (status & (SR_ER | SR_BRK | SR_FER | SR_PER)) clear_status(port, SR_ER | SR_BRK | SR_FER | SR_PER);
  if (port->line_status) {
    uint32_t lsr = port->base + port->line_status;
    if (read16(lsr) & port->overrun) write16(lsr, (uint16_t)(read16(lsr) & ~port->overrun));
  } else if (status & port->overrun) {
    clear_status(port, port->overrun);
  }
}

int scif_receive_byte(void *context, uint32_t timeout_ms) {
  const struct scif_port *port = context;
  for (uint32_t ms = 0; timeout_ms == 0xFFFFFFFFu || ms < timeout_ms; ++ms) {
    for (uint32_t i = 0; i < POLLS_PER_MS; ++i) {
      clear_errors(port);
      if (read16(port->base + port->fifo_count) & port->receive_mask) {
        uint8_t byte = read8(port->base + port->receive);
        clear_status(port, SR_RDF | SR_DR);
        return byte;
      }
    }
  }
  return -1;
}

void scif_send(void *context, const uint8_t *bytes, uint32_t length) {
  const struct scif_port *port = context;
  for (uint32_t i = 0; i < length; ++i) {
    while (((read16(port->base + port->fifo_count) >> 8) & port->transmit_mask) >= port->fifo_size) {
    }
    write8(port->base + port->transmit, bytes[i]);
    clear_status(port, SR_TDFE | SR_TEND);
  }
  /* Wait until the last bit left the line (at most a few ms at 115200 baud). */
  for (uint32_t i = 0; i < 20u * POLLS_PER_MS; ++i)
    if (read16(port->base + port->status) & SR_TEND) break;
}

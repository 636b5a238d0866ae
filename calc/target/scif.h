/* Serial link (3-pin cable) through the processor's SCIF. The calculator's system has set
 * the line up (115200 baud, 8N1) before it started the program; the driver only moves
 * bytes. */
#ifndef CALC_SCIF_H
#define CALC_SCIF_H

#include <stdint.h>

struct scif_port {
  uint32_t base;
  uint16_t status;        /* offset of SCFSR/SCSSR */
  uint16_t fifo_count;    /* offset of SCFDR */
  uint16_t transmit;      /* offset of SCFTDR */
  uint16_t receive;       /* offset of SCFRDR */
  uint16_t line_status;   /* offset of SCLSR, 0 when the overrun flag is in the status register */
  uint16_t overrun;       /* overrun flag's bit in its register */
  uint16_t transmit_mask; /* SCFDR bits of the transmit count (shifted down by 8) */
  uint16_t receive_mask;  /* SCFDR bits of the receive count */
  uint16_t fifo_size;
};

extern const struct scif_port scif_sh7705;
extern const struct scif_port scif_sh7305;

int scif_receive_byte(void *port, uint32_t timeout_ms);
void scif_send(void *port, const uint8_t *bytes, uint32_t length);

#endif

#include "usb_sh7705.h"

#include "registers.h"

/* USB function module registers, 8-bit, at 0xA4480000 on the SH7705 (SH7705 Group
 * Hardware Manual, section "USB Function Module", register list; base address also in the
 * "SuperH-based fx calculators" module table). Bits from the same section's descriptions
 * of USBIFR0, USBIFR1, USBTRG. */
#define USB_BASE 0xA4480000u
#define USBEPDR0I (USB_BASE + 0x00)
#define USBEPDR0S (USB_BASE + 0x08)
#define USBEPDR1 (USB_BASE + 0x0C)
#define USBEPDR2 (USB_BASE + 0x10)
#define USBIFR0 (USB_BASE + 0x18)
#define USBIFR1 (USB_BASE + 0x1C)
#define USBTRG (USB_BASE + 0x20)
#define USBEPSZ1 (USB_BASE + 0x3C)

#define IFR0_EP1_FULL 0x40u
#define IFR0_EP2_EMPTY 0x10u
#define IFR0_SETUP_TS 0x08u
#define IFR1_VBUSMN 0x08u
#define TRG_EP0I_PKTE 0x01u
#define TRG_EP0S_RDFN 0x04u
#define TRG_EP2_PKTE 0x10u
#define TRG_EP1_RDFN 0x20u

#define PACKET_SIZE 64u

int usb_sh7705_connected(void) { return (read8(USBIFR1) & IFR1_VBUSMN) != 0; }

/* A control request while the program runs (the PC reopening the device): its eight
 * setup bytes are read and an empty status stage answers it. */
static void answer_setup(void) {
  for (int i = 0; i < 8; ++i) (void)read8(USBEPDR0S);
  write8(USBIFR0, (uint8_t)~IFR0_SETUP_TS);
  write8(USBTRG, TRG_EP0S_RDFN);
  write8(USBTRG, TRG_EP0I_PKTE);
}

static int fetch_packet(struct usb_link *link) {
  uint8_t flags = read8(USBIFR0);
  if (flags & IFR0_SETUP_TS) answer_setup();
  if (!(flags & IFR0_EP1_FULL)) return 0;
  uint32_t count = read8(USBEPSZ1);
  if (count > PACKET_SIZE) count = PACKET_SIZE;
  for (uint32_t i = 0; i < count; ++i) link->buffer[i] = read8(USBEPDR1);
  write8(USBTRG, TRG_EP1_RDFN);
  link->length = count;
  link->position = 0;
  return count > 0;
}

int usb_sh7705_receive_byte(void *context, uint32_t timeout_ms) {
  struct usb_link *link = context;
  for (uint32_t ms = 0; timeout_ms == 0xFFFFFFFFu || ms < timeout_ms; ++ms) {
    for (uint32_t i = 0; i < POLLS_PER_MS; ++i) {
      if (link->position < link->length) return link->buffer[link->position++];
      fetch_packet(link);
    }
  }
  return -1;
}

/* Waits until endpoint 2's FIFO is free; 0 when the PC stopped reading for a second. */
static int wait_transmit_free(void) {
  for (uint32_t i = 0; i < 1000u * POLLS_PER_MS; ++i)
    if (read8(USBIFR0) & IFR0_EP2_EMPTY) return 1;
  return 0;
}

void usb_sh7705_send(void *context, const uint8_t *bytes, uint32_t length) {
  (void)context;
  for (uint32_t sent = 0; sent < length;) {
    if (!wait_transmit_free()) return;
    uint32_t count = length - sent < PACKET_SIZE ? length - sent : PACKET_SIZE;
    for (uint32_t i = 0; i < count; ++i) write8(USBEPDR2, bytes[sent + i]);
    write8(USBTRG, TRG_EP2_PKTE);
    sent += count;
  }
  /* A packet that fills its last USB packet exactly ends with an empty one, so the PC's
   * read completes. */
  if ((length & (PACKET_SIZE - 1)) == 0 && wait_transmit_free()) write8(USBTRG, TRG_EP2_PKTE);
}

/* USB link through the SH-3 units' USB function module. The calculator's system has
 * enumerated and configured the device before it started the program; the driver moves
 * bulk data (endpoint 1 from the PC, endpoint 2 to the PC) and answers control requests
 * that arrive meanwhile with an empty status stage. */
#ifndef CALC_USB_SH7705_H
#define CALC_USB_SH7705_H

#include <stdint.h>

struct usb_link {
  uint8_t buffer[64]; /* the last packet from the PC */
  uint32_t length;
  uint32_t position;
};

/* VBUS is present (a USB cable is plugged in). */
int usb_sh7705_connected(void);

int usb_sh7705_receive_byte(void *link, uint32_t timeout_ms);
void usb_sh7705_send(void *link, const uint8_t *bytes, uint32_t length);

#endif

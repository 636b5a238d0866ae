/* Packets of the link protocol, the calculator's side: receiving one packet (framing,
 * checksum, unescaping) and framing an answer (escaping, size, checksum).
 *
 * On the wire: type byte, two hex digits of subtype, data flag "0"/"1"; with flag "1"
 * four hex digits of data size and the data (escaped); then two hex digits of checksum,
 * the negated sum of every byte from the subtype to the last data byte. Escaping: a byte
 * below 0x20 goes as 0x5C, byte + 0x20; 0x5C goes as 0x5C 0x5C. */
#ifndef CALC_WIRE_H
#define CALC_WIRE_H

#include <stdint.h>

#include "board.h"

#ifdef __cplusplus
extern "C" {
#endif

#define WIRE_TYPE_COMMAND 0x01
#define WIRE_TYPE_DATA 0x02
#define WIRE_TYPE_ROLESWAP 0x03
#define WIRE_TYPE_CHECK 0x05
#define WIRE_TYPE_ACK 0x06
#define WIRE_TYPE_ERROR 0x15
#define WIRE_TYPE_TERMINATE 0x18

#define WIRE_MAX_ESCAPED 2056u /* data bytes of one packet as sent */
#define WIRE_MAX_RAW 1028u     /* the largest data field a PC sends, unescaped */

/* Milliseconds of silence inside a packet after which the partial packet is dropped. */
#define WIRE_BYTE_TIMEOUT_MS 2000u

enum wire_status {
  WIRE_OK = 0,
  WIRE_TIMEOUT,      /* the packet stopped in the middle */
  WIRE_BAD_CHECKSUM, /* complete, but the checksum does not match */
  WIRE_MALFORMED,    /* a field that is not hex, a size too large, a broken escape */
  WIRE_CLOSED        /* the link is gone for good (never on the calculator) */
};

struct wire_packet {
  uint8_t type;
  uint8_t subtype;
  uint8_t has_data;
  uint32_t length; /* unescaped bytes in data */
  uint8_t data[WIRE_MAX_RAW];
  uint8_t escaped[WIRE_MAX_ESCAPED]; /* the data field as it came */
};

/* Receives the next packet. Bytes that cannot start a packet are skipped; waits for the
 * first byte as long as it takes. CALC_LINK_CLOSED ends it. */
enum wire_status wire_receive(const struct calc_board *board, struct wire_packet *packet);

/* Reads and drops bytes until the line has been quiet for quiet_ms. */
void wire_drain(const struct calc_board *board, uint32_t quiet_ms);

/* Frames a packet into out (at least 10 + 2 * length bytes); data is escaped. With length
 * 0 the packet has data flag "0". Returns the packet length. */
uint32_t wire_frame(uint8_t *out, uint8_t type, uint8_t subtype, const uint8_t *data,
                    uint32_t length);

#ifdef __cplusplus
}
#endif

#endif

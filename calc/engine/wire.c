#include "wire.h"

static const char hex_digits[] = "0123456789ABCDEF";

static int is_packet_type(int byte) {
  return byte == WIRE_TYPE_COMMAND || byte == WIRE_TYPE_DATA || byte == WIRE_TYPE_ROLESWAP ||
         byte == WIRE_TYPE_CHECK || byte == WIRE_TYPE_ACK || byte == WIRE_TYPE_ERROR ||
         byte == WIRE_TYPE_TERMINATE;
}

static int hex_value(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

/* Reads count bytes of a packet in progress into target, adding them to *sum. */
static enum wire_status read_bytes(const struct calc_board *board, uint8_t *target,
                                   uint32_t count, uint8_t *sum) {
  for (uint32_t i = 0; i < count; ++i) {
    int byte = board->receive_byte(board->link_context, WIRE_BYTE_TIMEOUT_MS);
    if (byte < 0) return byte == CALC_LINK_CLOSED ? WIRE_CLOSED : WIRE_TIMEOUT;
    target[i] = (uint8_t)byte;
    *sum = (uint8_t)(*sum + (uint8_t)byte);
  }
  return WIRE_OK;
}

/* Parses count hex digits; -1 when one is not a hex digit. */
static int32_t parse_hex(const uint8_t *digits, uint32_t count) {
  int32_t value = 0;
  for (uint32_t i = 0; i < count; ++i) {
    int digit = hex_value(digits[i]);
    if (digit < 0) return -1;
    value = (value << 4) | digit;
  }
  return value;
}

static enum wire_status unescape(const uint8_t *in, uint32_t in_length, struct wire_packet *packet) {
  uint32_t out = 0;
  for (uint32_t i = 0; i < in_length; ++i) {
    uint8_t byte = in[i];
    if (byte == 0x5C) {
      if (++i == in_length) return WIRE_MALFORMED;
      byte = in[i] == 0x5C ? 0x5C : (uint8_t)(in[i] - 0x20);
    }
    if (out == WIRE_MAX_RAW) return WIRE_MALFORMED;
    packet->data[out++] = byte;
  }
  packet->length = out;
  return WIRE_OK;
}

enum wire_status wire_receive(const struct calc_board *board, struct wire_packet *packet) {
  int first;
  do {
    first = board->receive_byte(board->link_context, 0xFFFFFFFFu);
    if (first == CALC_LINK_CLOSED) return WIRE_CLOSED;
  } while (!is_packet_type(first));
  packet->type = (uint8_t)first;
  packet->has_data = 0;
  packet->length = 0;

  uint8_t sum = 0;
  uint8_t header[3];
  enum wire_status status = read_bytes(board, header, 3, &sum);
  if (status != WIRE_OK) return status;
  int32_t subtype = parse_hex(header, 2);
  if (subtype < 0 || (header[2] != '0' && header[2] != '1')) return WIRE_MALFORMED;
  packet->subtype = (uint8_t)subtype;

  uint32_t escaped_length = 0;
  if (header[2] == '1') {
    uint8_t size[4];
    status = read_bytes(board, size, 4, &sum);
    if (status != WIRE_OK) return status;
    int32_t parsed = parse_hex(size, 4);
    if (parsed < 0 || (uint32_t)parsed > WIRE_MAX_ESCAPED) return WIRE_MALFORMED;
    escaped_length = (uint32_t)parsed;
    status = read_bytes(board, packet->escaped, escaped_length, &sum);
    if (status != WIRE_OK) return status;
    packet->has_data = 1;
  }

  uint8_t checksum_digits[2];
  uint8_t ignored = 0;
  status = read_bytes(board, checksum_digits, 2, &ignored);
  if (status != WIRE_OK) return status;
  int32_t checksum = parse_hex(checksum_digits, 2);
  if (checksum < 0) return WIRE_MALFORMED;
  if ((uint8_t)(0u - sum) != (uint8_t)checksum) return WIRE_BAD_CHECKSUM;
  return unescape(packet->escaped, escaped_length, packet);
}

void wire_drain(const struct calc_board *board, uint32_t quiet_ms) {
  while (board->receive_byte(board->link_context, quiet_ms) >= 0) {
  }
  /* A closed link shows again at the next receive. */
}

/* Kept out of line: inlined, GCC 12 for SuperH drops a test next to it (the image
 * check finds such branches). */
static __attribute__((noinline)) uint8_t *put_hex(uint8_t *out, uint32_t value, int digits) {
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) *out++ = (uint8_t)hex_digits[(value >> shift) & 0xF];
  return out;
}

uint32_t wire_frame(uint8_t *out, uint8_t type, uint8_t subtype, const uint8_t *data,
                    uint32_t length) {
  uint8_t *p = out;
  *p++ = type;
  p = put_hex(p, subtype, 2);
  if (length == 0) {
    *p++ = '0';
  } else {
    *p++ = '1';
    uint8_t *size = p;
    p += 4;
    uint8_t *field = p;
    for (uint32_t i = 0; i < length; ++i) {
      uint8_t byte = data[i];
      if (byte < 0x20) {
        *p++ = 0x5C;
        *p++ = (uint8_t)(byte + 0x20);
      } else if (byte == 0x5C) {
        *p++ = 0x5C;
        *p++ = 0x5C;
      } else {
        *p++ = byte;
      }
    }
    put_hex(size, (uint32_t)(p - field), 4);
  }
  uint8_t sum = 0;
  for (uint8_t *q = out + 1; q < p; ++q) sum = (uint8_t)(sum + *q);
  p = put_hex(p, (uint8_t)(0u - sum), 2);
  return (uint32_t)(p - out);
}

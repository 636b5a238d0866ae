#include "commands.h"

#include "bios_table.h"

static uint32_t get_be32(const uint8_t *p) {
  return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

static void put_be32(uint8_t *p, uint32_t value) {
  p[0] = (uint8_t)(value >> 24);
  p[1] = (uint8_t)(value >> 16);
  p[2] = (uint8_t)(value >> 8);
  p[3] = (uint8_t)value;
}

static void put_be16(uint8_t *p, uint16_t value) {
  p[0] = (uint8_t)(value >> 8);
  p[1] = (uint8_t)value;
}

static void copy_bytes(uint8_t *to, const uint8_t *from, uint32_t count) {
  while (count--) *to++ = *from++;
}

static void answer_error(struct calc_answer *answer, uint8_t code) {
  answer->kind = CALC_ANSWER_ERROR;
  answer->error_code = code;
}

/* [start, start + length) lies inside the staging area. */
static int in_staging(uint32_t start, uint32_t length) {
  return start >= CALC_STAGING_START && start <= CALC_STAGING_END &&
         length <= CALC_STAGING_END - start;
}

/* [address, address + length) lies inside the flash, outside sector 0. */
static int in_writable_flash(const struct calc_state *state, uint32_t address, uint32_t length) {
  if (address < CALC_FLASH_BASE) return 0;
  uint32_t offset = address - CALC_FLASH_BASE;
  return offset >= CALC_SECTOR_SIZE && offset < state->flash.size &&
         length <= state->flash.size - offset;
}

/* Compares the flash with expected, a piece at a time; 0 when equal. */
static int compare_flash(const struct calc_state *state, uint32_t address,
                         const uint8_t *expected, uint32_t length) {
  uint8_t piece[64];
  while (length > 0) {
    uint32_t count = length < sizeof piece ? length : sizeof piece;
    state->board->flash_read(state->board->context, address, piece, count);
    for (uint32_t i = 0; i < count; ++i) {
      if (piece[i] != (expected ? expected[i] : 0xFF)) return 1;
    }
    address += count;
    length -= count;
    if (expected) expected += count;
  }
  return 0;
}

static void write_ram(struct calc_state *state, const struct wire_packet *packet,
                      struct calc_answer *answer) {
  if (packet->length < 8) { answer_error(answer, CALC_ERROR_REFUSED); return; }
  uint32_t address = get_be32(packet->data);
  uint32_t count = get_be32(packet->data + 4);
  if (count != packet->length - 8 || !in_staging(address, count))
    { answer_error(answer, CALC_ERROR_REFUSED); return; }
  copy_bytes(state->board->staging + (address - CALC_STAGING_START), packet->data + 8, count);
}

static void write_flash(struct calc_state *state, const struct wire_packet *packet,
                        struct calc_answer *answer) {
  if (packet->length != 12) { answer_error(answer, CALC_ERROR_REFUSED); return; }
  uint32_t address = get_be32(packet->data);
  uint32_t count = get_be32(packet->data + 4);
  uint32_t source = get_be32(packet->data + 8);
  /* The chip takes 16-bit words. */
  if (count == 0 || (address & 1) || (count & 1) || !in_writable_flash(state, address, count) ||
      !in_staging(source, count))
    { answer_error(answer, CALC_ERROR_REFUSED); return; }
  const uint8_t *data = state->board->staging + (source - CALC_STAGING_START);
  if (state->board->flash_program(state->board->context, address, data, count) != 0 ||
      compare_flash(state, address, data, count) != 0)
    answer_error(answer, CALC_ERROR_FAILED);
}

static void erase_sector(struct calc_state *state, const struct wire_packet *packet,
                         struct calc_answer *answer) {
  if (packet->length != 4) { answer_error(answer, CALC_ERROR_REFUSED); return; }
  uint32_t address = get_be32(packet->data);
  if ((address & (CALC_SECTOR_SIZE - 1)) || !in_writable_flash(state, address, CALC_SECTOR_SIZE))
    { answer_error(answer, CALC_ERROR_REFUSED); return; }
  if (state->board->flash_erase_sector(state->board->context, address) != 0 ||
      compare_flash(state, address, 0, CALC_SECTOR_SIZE) != 0)
    answer_error(answer, CALC_ERROR_FAILED);
}

/* P1 or P2 address of the flash chip's physical area. */
static int flash_area(uint32_t address, uint32_t *offset) {
  uint32_t segment = address >> 29;
  if (segment != 4 && segment != 5) return 0;
  *offset = address & 0x1FFFFFFFu;
  return *offset < 0x01000000u;
}

/* 0 BIOS, 1 an OS, -1 not an address in the flash. */
static int classify_code_address(uint32_t address) {
  uint32_t offset;
  if (!flash_area(address, &offset)) return -1;
  return offset < CALC_SECTOR_SIZE ? 0 : 1;
}

uint16_t calc_caller_code(const struct calc_start_info *start, uint16_t bios_type) {
  uint32_t forced = start->run_parameter == 0xFFFFFFFFu ? 0 : (start->run_parameter >> 8) & 0xFF;
  if (forced) return (uint16_t)(forced - 1);
  int kind = classify_code_address(start->return_address);
  /* Called through a piece of code in RAM: the first return address on the stack tells. */
  for (uint32_t i = 0; kind < 0 && i < sizeof start->stack_words / sizeof start->stack_words[0]; ++i)
    kind = classify_code_address(start->stack_words[i]);
  if (kind < 0) return CALC_CALLER_UNKNOWN;
  if (kind == 0) return CALC_CALLER_BIOS;
  return bios_type == 5 ? CALC_CALLER_FX7400GII_OS : CALC_CALLER_FX9860_OS;
}

static void build_record(struct calc_state *state, uint8_t *record) {
  const struct calc_board *board = state->board;
  for (uint32_t i = 0; i < CALC_RECORD_SIZE; ++i) record[i] = 0;
  uint8_t date[CALC_BIOS_DATE_LENGTH];
  uint8_t checksum[4];
  board->flash_read(board->context, CALC_FLASH_BASE + CALC_BIOS_DATE_OFFSET, date, sizeof date);
  board->flash_read(board->context, CALC_FLASH_BASE + CALC_BIOS_CHECKSUM_OFFSET, checksum, 4);
  uint16_t bios_type = calc_bios_type(date, get_be32(checksum));
  put_be16(record + 0, calc_caller_code(&board->start, bios_type));
  put_be16(record + 2, bios_type);
  /* Bytes 4 to 15 and 24 to 27 are not read by the PC; they carry what helps a diagnosis. */
  put_be32(record + 4, board->start.run_parameter);
  put_be32(record + 8, board->start.return_address);
  put_be32(record + 12, board->start.caller_stack);
  board->flash_read(board->context, CALC_FLASH_BASE + CALC_BIOS_ID_OFFSET, record + 16,
                    CALC_BIOS_ID_LENGTH);
  put_be32(record + 24, state->flash.size);
  put_be32(record + 28, state->flash.device);
  put_be32(record + 32, state->flash.manufacturer);
  uint32_t pvr = 0, prr = 0;
  board->processor_ids(board->context, &pvr, &prr);
  put_be32(record + 36, pvr);
  put_be32(record + 40, prr);
}

/* Kept out of line: inlined, GCC 12 for SuperH drops a test next to it (the image
 * check finds such branches). */
static __attribute__((noinline)) void os_bios_record(struct calc_state *state,
                                                     const struct wire_packet *packet,
                                                     struct calc_answer *answer) {
  if (packet->length != 0) { answer_error(answer, CALC_ERROR_REFUSED); return; }
  answer->kind = CALC_ANSWER_ACK_AND_RECORD;
  build_record(state, answer->record);
}

void calc_commands_init(struct calc_state *state, const struct calc_board *board) {
  state->board = board;
  state->flash.manufacturer = state->flash.device = state->flash.size = 0;
  board->flash_identify(board->context, &state->flash);
}

void calc_command(struct calc_state *state, const struct wire_packet *packet,
                  struct calc_answer *answer) {
  answer->kind = CALC_ANSWER_ACK;
  switch (packet->type) {
    case WIRE_TYPE_CHECK:
    case WIRE_TYPE_TERMINATE:
    case WIRE_TYPE_ROLESWAP:
      return;
    case WIRE_TYPE_COMMAND:
      break;
    default:
      { answer_error(answer, CALC_ERROR_FAILED); return; }
  }
  switch (packet->subtype) {
    case 0x70:
      write_ram(state, packet, answer); return;
    case 0x71:
      write_flash(state, packet, answer); return;
    case 0x72:
      erase_sector(state, packet, answer); return;
    case 0x76:
      os_bios_record(state, packet, answer); return;
    case 0x77:
      answer->kind = CALC_ANSWER_LEAVE;
      answer->leave = CALC_LEAVE_BIOS;
      return;
    case 0x78:
      answer->kind = CALC_ANSWER_ACK_AND_LEAVE;
      answer->leave = CALC_LEAVE_REBOOT;
      return;
    case 0x79:
      answer->kind = CALC_ANSWER_LEAVE;
      answer->leave = CALC_LEAVE_REBOOT;
      return;
    case 0x7A:
      if (packet->length != 4 ||
          state->board->set_contrast(state->board->context, get_be32(packet->data)) != 0)
        answer_error(answer, CALC_ERROR_REFUSED);
      return;
    default:
      { answer_error(answer, CALC_ERROR_FAILED); return; }
  }
}

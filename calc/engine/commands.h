/* The program's command table: what each extended command does, after checking that its
 * request stays inside the staging area and the flash (never sector 0). */
#ifndef CALC_COMMANDS_H
#define CALC_COMMANDS_H

#include <stdint.h>

#include "board.h"
#include "wire.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Error answers (type 0x15, no data). */
#define CALC_ERROR_FAILED 0x00  /* the flash did not do what it was told, or unknown command */
#define CALC_ERROR_RESEND 0x01  /* the packet arrived damaged */
#define CALC_ERROR_REFUSED 0x04 /* a request outside what the program allows */

#define CALC_RECORD_SIZE 44u

/* Caller codes of the record. */
#define CALC_CALLER_BIOS 0u
#define CALC_CALLER_FX9860_OS 1u
#define CALC_CALLER_FX7400GII_OS 3u
#define CALC_CALLER_UNKNOWN 0xFFu

enum calc_answer_kind {
  CALC_ANSWER_ACK,            /* plain acknowledge */
  CALC_ANSWER_ERROR,          /* error packet with error_code */
  CALC_ANSWER_ACK_AND_RECORD, /* acknowledge, then the record as data packet "76" */
  CALC_ANSWER_LEAVE,          /* no answer; leave as told */
  CALC_ANSWER_ACK_AND_LEAVE   /* acknowledge, then leave as told */
};

struct calc_answer {
  enum calc_answer_kind kind;
  uint8_t error_code;
  enum calc_leave leave;
  uint8_t record[CALC_RECORD_SIZE];
};

struct calc_state {
  const struct calc_board *board;
  struct calc_flash_ids flash;
};

/* Identifies the flash. */
void calc_commands_init(struct calc_state *state, const struct calc_board *board);

/* Carries out one received packet and says how to answer it. */
void calc_command(struct calc_state *state, const struct wire_packet *packet,
                  struct calc_answer *answer);

/* Who started the program, from the run parameter, the caller's return address and the
 * caller's stack; bios_type tells the fx-7400GII's OS from the others. */
uint16_t calc_caller_code(const struct calc_start_info *start, uint16_t bios_type);

#ifdef __cplusplus
}
#endif

#endif

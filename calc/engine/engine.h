/* The program's main loop: receive a packet, carry it out, answer, and leave when told. */
#ifndef CALC_ENGINE_H
#define CALC_ENGINE_H

#include "board.h"
#include "commands.h"
#include "wire.h"

#ifdef __cplusplus
extern "C" {
#endif

struct calc_engine {
  struct calc_state state;
  struct wire_packet packet;
  struct calc_answer answer;
  uint8_t out[16 + 2 * CALC_RECORD_SIZE];
};

/* Serves commands until the board's leave returns or the link closes. */
void calc_engine_run(struct calc_engine *engine, const struct calc_board *board);

#ifdef __cplusplus
}
#endif

#endif

#include "engine.h"

/* Quiet time that ends a damaged packet before the resend request goes out. */
#define DRAIN_QUIET_MS 50u

static void send_packet(struct calc_engine *engine, uint8_t type, uint8_t subtype,
                        const uint8_t *data, uint32_t length) {
  const struct calc_board *board = engine->state.board;
  board->send(board->link_context, engine->out, wire_frame(engine->out, type, subtype, data, length));
}

void calc_engine_run(struct calc_engine *engine, const struct calc_board *board) {
  calc_commands_init(&engine->state, board);
  for (;;) {
    enum wire_status status = wire_receive(board, &engine->packet);
    if (status == WIRE_CLOSED) return;
    if (status == WIRE_TIMEOUT) continue; /* the PC's own time-out reports it */
    if (status != WIRE_OK) {
      wire_drain(board, DRAIN_QUIET_MS);
      send_packet(engine, WIRE_TYPE_ERROR, CALC_ERROR_RESEND, 0, 0);
      continue;
    }
    struct calc_answer *answer = &engine->answer;
    calc_command(&engine->state, &engine->packet, answer);
    switch (answer->kind) {
      case CALC_ANSWER_ERROR:
        send_packet(engine, WIRE_TYPE_ERROR, answer->error_code, 0, 0);
        break;
      case CALC_ANSWER_ACK_AND_RECORD:
        send_packet(engine, WIRE_TYPE_ACK, 0x00, 0, 0);
        send_packet(engine, WIRE_TYPE_DATA, 0x76, answer->record, CALC_RECORD_SIZE);
        break;
      case CALC_ANSWER_ACK_AND_LEAVE:
        send_packet(engine, WIRE_TYPE_ACK, 0x00, 0, 0);
        board->leave(board->context, answer->leave);
        return;
      case CALC_ANSWER_LEAVE:
        board->leave(board->context, answer->leave);
        return;
      case CALC_ANSWER_ACK:
        send_packet(engine, WIRE_TYPE_ACK, 0x00, 0, 0);
        break;
    }
  }
}

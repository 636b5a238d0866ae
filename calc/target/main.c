/* The calculator program: picks the link, identifies the machine and serves the PC's
 * commands until told to leave. */
#include "bios_table.h"
#include "engine.h"
#include "flash_bus.h"
#include "lcd.h"
#include "machine.h"
#include "registers.h"
#include "scif.h"
#include "usb_sh7705.h"

extern const uint32_t calc_run_parameter; /* start.S: image offset 32 */

#define RAM_START 0x88000000u
#define RAM_END 0x88080000u

/* Link choice in the run parameter's bits 0-3: 0 find out, 1 serial, 2 USB. */
#define LINK_SERIAL 1u
#define LINK_USB 2u

static struct calc_engine engine;
static struct calc_board board;
static struct usb_link usb;
static enum processor_kind processor;

static uint16_t installed_bios_type(void) {
  uint8_t date[CALC_BIOS_DATE_LENGTH];
  uint8_t checksum[4];
  flash_read(0, CALC_FLASH_BASE + CALC_BIOS_DATE_OFFSET, date, sizeof date);
  flash_read(0, CALC_FLASH_BASE + CALC_BIOS_CHECKSUM_OFFSET, checksum, sizeof checksum);
  return calc_bios_type(date, (uint32_t)checksum[0] << 24 | (uint32_t)checksum[1] << 16 |
                                  (uint32_t)checksum[2] << 8 | checksum[3]);
}

static void choose_link(uint32_t run_parameter) {
  uint32_t link = run_parameter == 0xFFFFFFFFu ? 0 : run_parameter & 0xF;
  /* The SH-4A units' USB module is not driven by this program. */
  if (link == 0) link = processor == PROCESSOR_SH3 && usb_sh7705_connected() ? LINK_USB : LINK_SERIAL;
  if (link == LINK_USB && processor == PROCESSOR_SH3) {
    board.link_context = &usb;
    board.receive_byte = usb_sh7705_receive_byte;
    board.send = usb_sh7705_send;
  } else {
    board.link_context = (void *)(processor == PROCESSOR_SH3 ? &scif_sh7705 : &scif_sh7305);
    board.receive_byte = scif_receive_byte;
    board.send = scif_send;
  }
}

/* The caller's stack, when it points into RAM. */
static void read_caller_stack(uint32_t stack) {
  if (stack < RAM_START || stack > RAM_END - sizeof board.start.stack_words || (stack & 3)) return;
  for (uint32_t i = 0; i < sizeof board.start.stack_words / sizeof board.start.stack_words[0]; ++i)
    board.start.stack_words[i] = read32(stack + 4 * i);
}

void calc_main(uint32_t caller_stack, uint32_t return_address) {
  uint32_t run_parameter = calc_run_parameter;
  processor = machine_processor(run_parameter, installed_bios_type());
  choose_link(run_parameter);
  board.context = &processor;
  board.flash_identify = flash_identify;
  board.flash_erase_sector = flash_erase_sector;
  board.flash_program = flash_program;
  board.flash_read = flash_read;
  board.staging = (uint8_t *)CALC_STAGING_START;
  board.set_contrast = lcd_set_contrast;
  board.processor_ids = machine_processor_ids;
  board.leave = machine_leave;
  board.start.run_parameter = run_parameter;
  board.start.return_address = return_address;
  board.start.caller_stack = caller_stack;
  read_caller_stack(caller_stack);
  calc_engine_run(&engine, &board);
  machine_leave(&processor, CALC_LEAVE_REBOOT);
}

#include "nor_flash.h"

/* Command cycles, from the AMD Am29LV160D data sheet (publication 22358, "Command
 * Definitions" table) and the Spansion S29GL-N data sheet ("Command Definitions",
 * "Autoselect Codes"); word-mode addresses, given here as byte offsets (word x 2).
 * CFI query and field offsets: JEDEC JESD68.01 / AMD CFI publication 13004. */
#define UNLOCK1_OFFSET (0x555u * 2)
#define UNLOCK2_OFFSET (0x2AAu * 2)
#define UNLOCK1_DATA 0xAAu
#define UNLOCK2_DATA 0x55u
#define CMD_AUTOSELECT 0x90u
#define CMD_PROGRAM 0xA0u
#define CMD_ERASE_SETUP 0x80u
#define CMD_SECTOR_ERASE 0x30u
#define CMD_RESET 0xF0u
#define CMD_CFI_QUERY 0x98u
#define CFI_QUERY_OFFSET (0x55u * 2)

/* Autoselect words. A first device word of 0x7E announces a three-word device id
 * (words 0x01, 0x0E, 0x0F). */
#define ID_MANUFACTURER (0x00u * 2)
#define ID_DEVICE1 (0x01u * 2)
#define ID_DEVICE2 (0x0Eu * 2)
#define ID_DEVICE3 (0x0Fu * 2)
#define ID_EXTENDED 0x7Eu

/* CFI words: "QRY", primary command set (low, high), device size as a power of two. */
#define CFI_Q (0x10u * 2)
#define CFI_COMMAND_SET_LOW (0x13u * 2)
#define CFI_COMMAND_SET_HIGH (0x14u * 2)
#define CFI_DEVICE_SIZE (0x27u * 2)
#define CFI_AMD_STANDARD 0x0002u

/* Status bits during an embedded operation: DQ7 shows the complement of the data's bit 7
 * until the operation is done; DQ5 says the chip exceeded its internal time limit. */
#define DQ7 0x80u
#define DQ5 0x20u

static void unlock(const struct nor_bus *bus) {
  bus->write(bus->context, UNLOCK1_OFFSET, UNLOCK1_DATA);
  bus->write(bus->context, UNLOCK2_OFFSET, UNLOCK2_DATA);
}

static void reset(const struct nor_bus *bus) { bus->write(bus->context, 0, CMD_RESET); }

static uint32_t low_byte(const struct nor_bus *bus, uint32_t offset) {
  return bus->read(bus->context, offset) & 0xFFu;
}

void nor_identify(const struct nor_bus *bus, struct calc_flash_ids *ids) {
  unlock(bus);
  bus->write(bus->context, UNLOCK1_OFFSET, CMD_AUTOSELECT);
  ids->manufacturer = low_byte(bus, ID_MANUFACTURER);
  ids->device = low_byte(bus, ID_DEVICE1);
  if (ids->device == ID_EXTENDED)
    ids->device = ID_EXTENDED << 16 | low_byte(bus, ID_DEVICE2) << 8 | low_byte(bus, ID_DEVICE3);
  reset(bus);

  ids->size = 0;
  bus->write(bus->context, CFI_QUERY_OFFSET, CMD_CFI_QUERY);
  if (low_byte(bus, CFI_Q) == 'Q' && low_byte(bus, CFI_Q + 2) == 'R' &&
      low_byte(bus, CFI_Q + 4) == 'Y') {
    uint32_t command_set = low_byte(bus, CFI_COMMAND_SET_LOW) | low_byte(bus, CFI_COMMAND_SET_HIGH) << 8;
    uint32_t size_power = low_byte(bus, CFI_DEVICE_SIZE);
    /* 64 KiB to 64 MiB: anything else is not a chip this program knows how to drive. */
    if (command_set == CFI_AMD_STANDARD && size_power >= 16 && size_power <= 26)
      ids->size = 1u << size_power;
  }
  reset(bus);
}

/* Data polling until the word at offset shows expected's bit 7; 0 done, 1 failed. */
static int wait_ready(const struct nor_bus *bus, uint32_t offset, uint16_t expected) {
  for (uint32_t i = 0; i < bus->poll_limit; ++i) {
    uint16_t status = bus->read(bus->context, offset);
    if (((status ^ expected) & DQ7) == 0) return 0;
    if (status & DQ5) {
      status = bus->read(bus->context, offset);
      if (((status ^ expected) & DQ7) == 0) return 0;
      break;
    }
  }
  reset(bus);
  return 1;
}

int nor_erase_sector(const struct nor_bus *bus, uint32_t offset) {
  unlock(bus);
  bus->write(bus->context, UNLOCK1_OFFSET, CMD_ERASE_SETUP);
  unlock(bus);
  bus->write(bus->context, offset, CMD_SECTOR_ERASE);
  return wait_ready(bus, offset, 0xFFFFu);
}

int nor_program(const struct nor_bus *bus, uint32_t offset, const uint8_t *source, uint32_t length) {
  for (uint32_t i = 0; i + 1 < length; i += 2) {
    uint16_t word = (uint16_t)(source[i] << 8 | source[i + 1]);
    if (word == 0xFFFFu) continue;
    unlock(bus);
    bus->write(bus->context, UNLOCK1_OFFSET, CMD_PROGRAM);
    bus->write(bus->context, offset + i, word);
    if (wait_ready(bus, offset + i, word) != 0) return 1;
  }
  return 0;
}

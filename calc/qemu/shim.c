/* The command engine as a Linux user program, for running the calculator's code under a
 * user-mode emulator: the link is standard input and output, the flash is the file open
 * as descriptor 3 (with NOR rules: an erase sets 0xFF, programming only clears bits), the
 * staging area is a buffer. Usage: engine [RUN-PARAMETER [RETURN-ADDRESS [BYTES]]] (hex);
 * the default return address lies in the boot code, so the caller is the BIOS; with BYTES
 * the cable is pulled after that many bytes from the PC. Exit status 10: left for the
 * BIOS; 11: rebooted; 12: the PC closed the link; 13: the cable was pulled. */
#include "engine.h"

int32_t shim_syscall(int32_t number, int32_t a, int32_t b, int32_t c);

#define SYS_EXIT 1
#define SYS_READ 3
#define SYS_WRITE 4
#define SYS_LSEEK 19
#define SYS_POLL 168
#define SEEK_SET 0
#define SEEK_END 2
#define POLLIN 1
#define FLASH_FD 3

struct pollfd_sh {
  int32_t fd;
  int16_t events;
  int16_t revents;
};

struct link_buffer {
  uint8_t bytes[4096];
  int32_t length;
  int32_t position;
  uint32_t received;
  uint32_t pull_at; /* byte count at which the cable is pulled; all ones: never */
};

static struct link_buffer link;
static struct calc_engine engine;
static struct calc_board board;
static uint8_t staging[CALC_STAGING_END - CALC_STAGING_START];
static uint8_t sector[CALC_SECTOR_SIZE];

static int receive_byte(void *context, uint32_t timeout_ms) {
  struct link_buffer *in = context;
  if (in->position == in->length) {
    struct pollfd_sh wait = {0, POLLIN, 0};
    int32_t timeout = timeout_ms == 0xFFFFFFFFu ? -1 : (int32_t)timeout_ms;
    if (shim_syscall(SYS_POLL, (int32_t)&wait, 1, timeout) == 0) return -1;
    in->length = shim_syscall(SYS_READ, 0, (int32_t)in->bytes, sizeof in->bytes);
    in->position = 0;
    if (in->length <= 0) {
      in->length = 0;
      return CALC_LINK_CLOSED;
    }
  }
  if (++in->received == in->pull_at) shim_syscall(SYS_EXIT, 13, 0, 0);
  return in->bytes[in->position++];
}

static void send(void *context, const uint8_t *bytes, uint32_t length) {
  (void)context;
  while (length > 0) {
    int32_t written = shim_syscall(SYS_WRITE, 1, (int32_t)bytes, (int32_t)length);
    if (written <= 0) return;
    bytes += written;
    length -= (uint32_t)written;
  }
}

static int file_at(uint32_t address) {
  return shim_syscall(SYS_LSEEK, FLASH_FD, (int32_t)(address - CALC_FLASH_BASE), SEEK_SET) >= 0;
}

static int file_transfer(int number, uint32_t address, uint8_t *bytes, uint32_t length) {
  if (!file_at(address)) return 1;
  while (length > 0) {
    int32_t done = shim_syscall(number, FLASH_FD, (int32_t)bytes, (int32_t)length);
    if (done <= 0) return 1;
    bytes += done;
    length -= (uint32_t)done;
  }
  return 0;
}

static void flash_identify(void *context, struct calc_flash_ids *ids) {
  (void)context;
  ids->manufacturer = 0x01;
  ids->device = 0x7E0A00;
  int32_t size = shim_syscall(SYS_LSEEK, FLASH_FD, 0, SEEK_END);
  ids->size = size > 0 ? (uint32_t)size : 0;
}

static void flash_read(void *context, uint32_t address, uint8_t *target, uint32_t length) {
  (void)context;
  if (file_transfer(SYS_READ, address, target, length) != 0)
    for (uint32_t i = 0; i < length; ++i) target[i] = 0;
}

static int flash_erase_sector(void *context, uint32_t address) {
  (void)context;
  for (uint32_t i = 0; i < sizeof sector; ++i) sector[i] = 0xFF;
  return file_transfer(SYS_WRITE, address, sector, sizeof sector);
}

static int flash_program(void *context, uint32_t address, const uint8_t *source, uint32_t length) {
  (void)context;
  while (length > 0) {
    uint32_t count = length < sizeof sector ? length : sizeof sector;
    if (file_transfer(SYS_READ, address, sector, count) != 0) return 1;
    for (uint32_t i = 0; i < count; ++i) sector[i] &= source[i];
    if (file_transfer(SYS_WRITE, address, sector, count) != 0) return 1;
    address += count;
    source += count;
    length -= count;
  }
  return 0;
}

static int set_contrast(void *context, uint32_t value) {
  (void)context;
  return value > 0xFF;
}

static void processor_ids(void *context, uint32_t *pvr, uint32_t *prr) {
  (void)context;
  *pvr = *prr = 0;
}

static void leave(void *context, enum calc_leave how) {
  (void)context;
  shim_syscall(SYS_EXIT, how == CALC_LEAVE_BIOS ? 10 : 11, 0, 0);
}

static uint32_t parse_hex(const char *text) {
  uint32_t value = 0;
  for (; *text; ++text) {
    char c = *text;
    uint32_t digit = c >= '0' && c <= '9' ? (uint32_t)(c - '0')
                     : c >= 'A' && c <= 'F' ? (uint32_t)(c - 'A' + 10)
                     : c >= 'a' && c <= 'f' ? (uint32_t)(c - 'a' + 10)
                                            : 0;
    value = value << 4 | digit;
  }
  return value;
}

int shim_main(const int32_t *stack) {
  int32_t argc = stack[0];
  const char *const *argv = (const char *const *)(stack + 1);
  board.link_context = &link;
  board.receive_byte = receive_byte;
  board.send = send;
  board.flash_identify = flash_identify;
  board.flash_erase_sector = flash_erase_sector;
  board.flash_program = flash_program;
  board.flash_read = flash_read;
  board.staging = staging;
  board.set_contrast = set_contrast;
  board.processor_ids = processor_ids;
  board.leave = leave;
  board.start.run_parameter = argc > 1 ? parse_hex(argv[1]) : 0;
  board.start.return_address = argc > 2 ? parse_hex(argv[2]) : 0xA0001000u;
  link.pull_at = argc > 3 ? parse_hex(argv[3]) : 0xFFFFFFFFu;
  calc_engine_run(&engine, &board);
  return 12;
}

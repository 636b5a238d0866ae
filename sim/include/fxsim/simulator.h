#pragma once
// A simulated fx-9860G calculator in link receive mode: it plays the calculator's side of
// the link protocol over a Unix-domain stream socket (standing in for the USB device) and
// over a pseudo terminal (standing in for the 3-pin serial cable), so that every PC-side
// operation can run without hardware. Independent of the PC code on purpose: it has its
// own packet code, so a fault on one side cannot hide behind the same fault on the other.
//
// How the calculator answers:
// - check 05 "00"/"01": acknowledge 06 "00" (and back to idle);
// - device information 01 "01": 06 "02" with the 164-byte record as data (escaped);
// - link settings 01 "02": acknowledge at the current speed, then (serial only) switch to
//   the requested rate; a rate other than 9600 or 115200, or a malformed parameter block,
//   gets error 15 "00" and the speed stays;
// - flash 01 "4F" (with storage "fls0", or without a data field) / RAM 01 "2F" with
//   storage "fls0": acknowledge; another storage name or
//   a malformed parameter block gets error 15 "04" (requested file does not exist);
//   the PC's role swap then gets the announcement 01 "50"/"30" (a parameter block with the
//   image size), and every acknowledge the next data block 02 "50"/"30" (total and number
//   as four hex digits each, then up to 256 escaped payload bytes); after the last block
//   the next acknowledge gets the role swap 03 "00";
// - terminate 18 "00": acknowledge, back to idle; a role swap at idle: acknowledge;
// - a packet whose checksum is wrong is not acted on: error 15 "01" (resend request);
// - an acknowledge outside a read-out, data packets and other commands: error 15 "00";
// - bytes that cannot start a packet are skipped; a 0x00 after a packet is ignored;
// - a program upload 01 "56" (size, load and start address as eight hex digits each):
//   acknowledge, then every upload block 02 "56" (total and number as four hex digits,
//   up to 256 escaped image bytes) is stored in RAM at the load address and acknowledged;
//   a malformed command or block gets error 15 "00", an image that does not fit in RAM
//   error 15 "05". After the last block the program starts: when its start address is
//   its load address it is taken for the recovery program (see ProgramConfig), which then
//   answers the extended commands; any other program takes the calculator over and the
//   link goes silent until the calculator is restarted.
// The recovery program (all numbers big-endian, data escaped; a request outside what the
// program allows gets error 15 "04" and changes nothing; another command or a data packet
// gets error 15 "00"):
// - 01 "70" address, length n, n bytes: stored in the RAM staging area 0x88030000 to
//   0x8803FFFF (only there), acknowledge;
// - 01 "71" flash address, length, RAM source: copied from the staging area into the flash
//   with NOR semantics (bits only go from 1 to 0); acknowledge after ProgramConfig::write_ms,
//   or error 15 "00" when the flash does not read back what was written. A write into a
//   64 KiB sector that was not erased since its last write is a NOR violation: it is
//   counted, reported and recorded in UnitStatus. Refused: odd address or length, a range
//   outside the chip or touching sector 0;
// - 01 "72" address of a sector (aligned, not sector 0): erased to 0xFF; acknowledge after
//   ProgramConfig::erase_ms;
// - 01 "76": acknowledge, then 02 "76" with the 44-byte OS/BIOS record;
// - 01 "7A" four bytes, 0 to 255: the LCD contrast is set, acknowledge;
// - 01 "77": no answer; the program starts the boot code, which shows the OS ERROR
//   screen and enters its own receive mode, so the next program started there reports
//   caller code 0;
// - 01 "78": acknowledge, then a restart; 01 "79": a restart without an answer. The
//   calculator comes back in receive mode with its flash as written (caller code 0 when
//   the OS header sector at 0x10000 is erased, else ProgramConfig::caller_code);
// - check 05, terminate 18, role swap 03: acknowledge; a damaged packet: error 15 "01".
// A restart drops the link: the USB connection is closed and connections are refused
// (serial: bytes are ignored) until ProgramConfig::restart_ms have passed; the serial
// line comes back at 9600 baud. With ProgramConfig::usb_reconnect_on_start the program
// re-initialises USB when it starts: the connection is closed and the PC reconnects.
// Serial line model: the calculator reads the speed the PC set on the pty; bytes the PC
// sends at another speed than the calculator's are dropped, and what the calculator sends
// while the speeds differ is lost, as garbage on a real line would be.
//
// Thread model: the endpoints are served by one internal thread; every public member
// function may be called from any other thread.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace fxsim {

// Default image sizes of a real fx-9860G.
inline constexpr std::size_t kFlashSize = 0x400000;
inline constexpr std::size_t kRamSize = 0x80000;
// Raw payload bytes per data block of a read-out.
inline constexpr std::size_t kBlockPayload = 256;
// Size of the device-information record.
inline constexpr std::size_t kDeviceInfoSize = 164;
// The OS version a unit reports when neither its flash nor its settings give one.
inline constexpr const char* kDefaultOsVersion = "02.00.0200";

// The sixteen text fields of the device-information record, each padded with 0xFF to its
// width (and cut to it). Defaults describe an SH3 fx-9860GII whose OS is in receive mode
// (see models.h): memory sizes in KiB as decimal digits, the boot code fields empty, the
// OS from flash offset 0x10000 (hexadecimal) with the size of the OS area in KiB.
struct DeviceInfo {
  std::string hardware_id = "Gy363006";                   // 8
  std::string processor_id = "RENESAS SH735501";          // 16
  std::string preprogrammed_rom_capacity = "00000000";    // 8 (KiB)
  std::string flash_rom_capacity = "00004096";            // 8 (KiB)
  std::string ram_capacity = "00000512";                  // 8 (KiB)
  std::string preprogrammed_rom_version = "";             // 16
  std::string boot_code_version = "";                     // 16
  std::string boot_code_offset = "";                      // 8
  std::string boot_code_size = "";                        // 8
  // 16; nothing: the version of the OS in the served flash, or fallback_os_version when
  // the flash holds none.
  std::optional<std::string> os_code_version;
  std::string os_code_offset = "00010000";                // 8
  std::string os_code_size = "00002432";                  // 8 (KiB)
  std::string protocol_version = "7.00";                  // 4
  // 8; the calculator's own ID: the eight characters the flash keeps at 0xFFD0 when they
  // are letters and digits (ServedWith), else this text.
  std::string product_id1 = "";
  std::string product_id2 = "";                           // 8
  std::string user_name = "OSTREL";                       // 16
  std::string fallback_os_version = kDefaultOsVersion;

  // The 164-byte record as the calculator sends it (before escaping).
  std::array<std::uint8_t, kDeviceInfoSize> Record() const;

  // This information as a unit serving `flash` reports it: the OS version of the flash
  // (NN.NN.NNNN at offset 0x10020) unless one was set, the calculator ID of the flash, and
  // the OS area's size for the flash's size.
  DeviceInfo ServedWith(std::span<const std::uint8_t> flash) const;
};

// `value` as eight decimal digits, the form of the capacity and size fields.
std::string DecimalField(std::size_t value);
// The OS area of a flash of `flash_size` bytes: from 0x10000 up to the storage memory at
// 0x270000, or up to 0x1E0000 in the 2 MiB flash of an fx-7400GII.
std::size_t OsAreaSize(std::size_t flash_size);

// Size of one flash sector (the unit of an erase).
inline constexpr std::size_t kSectorSize = 0x10000;
// Size of the OS/BIOS record of the recovery program.
inline constexpr std::size_t kOsBiosRecordSize = 44;

// What a fault does.
enum class Fault {
  kNoAnswer,          // without a site: not in receive mode: reads (and logs) everything,
                      // answers nothing; at a site: that one answer is left out, and a
                      // command of the recovery program is not carried out
  kDropByte,          // one byte of an outgoing packet is left out
  kCorruptByte,       // one byte of an outgoing packet is changed
  kBadChecksum,       // an outgoing packet carries a wrong checksum
  kErrorAnswer,       // an error packet (type 0x15) answers instead of the normal answer
  kExtraBlocks,       // the read-out sends `count` blocks past the image end (total grows)
  kNoRoleSwap,        // after the last block one more data block comes instead of the role swap
  kAnnounceRoleSwap,  // the announcement after the PC's role swap is replaced by a role swap
  kStall,             // stops answering, connection kept, for the rest of the session (USB:
                      // until the PC closes its connection; serial: until Stop())
  kDisconnect,        // closes the endpoint: USB: the connection (the next one is accepted);
                      // serial: the pty, for good (a pulled cable)
  kRepeatBlock,       // (block sites only) the block goes out twice: the next acknowledge
                      // gets the same block again
  kSwapBlocks,        // (block sites only) the next block goes out first, then this one
  kForeignPacket,     // (block sites only) the device-information answer goes out in place
                      // of the block; the next acknowledge gets the block
  kShortBlocks,       // every data block of a read-out carries only the first `count` bytes
                      // of its 256 (the rest is lost); totals and numbers are unchanged
  kDoubleAnswer,      // the answer goes out twice, one right after the other
  kAckInstead,        // a plain acknowledge (06 "00") goes out instead of the answer
  kStalePacket,       // a plain acknowledge nobody asked for goes out before the answer
  kBadEscape,         // (answers with data) the first data byte after a block's numbers,
                      // or the first data byte, goes out as the escape 5C 7F, which no
                      // sender makes; the size and checksum fit the changed data
};

// Where a fault hits.
struct FaultSite {
  enum class Kind {
    kAnyTime,       // kNoAnswer, kExtraBlocks, kNoRoleSwap, kAnnounceRoleSwap: always;
                    // the other faults: every answer
    kPacket,        // the calculator's outgoing packet number `number` (from 1, counted over
                    // the simulator's lifetime across sessions and endpoints)
    kBlock,         // the answer that would carry data block `number` (from 1), once per
                    // read-out (asked again, the calculator sends the block)
    kRequest,       // the answer to the flash or RAM read-out request (01 "4F" / 01 "2F")
    kDeviceInfo,    // the answer to the device-information command (01 "01")
    kCheck,         // the answer to a check packet (05 "00" / 05 "01")
    kLinkSettings,  // the answer to the link-settings command (01 "02")
    // The sites below hit once over the simulator's lifetime. A fault at a command of the
    // recovery program hits before the command is carried out.
    kUpload,        // the answer to the upload command (01 "56")
    kUploadBlock,   // the answer to upload block `number` (from 1)
    kOsBios,        // the acknowledge of the OS/BIOS query (01 "76")
    kOsBiosRecord,  // the OS/BIOS record that follows it (02 "76")
    kContrast,      // the answer to the LCD contrast (01 "7A")
    kRamWrite,      // the answer to RAM write `number` (01 "70", counted from 1 per program
                    // start; 0: the first)
    kErase,         // the answer to the erase of sector `number` (01 "72")
    kFlashWrite,    // the answer to the flash write of sector `number` (01 "71")
    kReboot,        // the answer to the forced reboot (01 "78")
  };
  Kind kind = Kind::kAnyTime;
  int number = 0;
};

struct FaultSpec {
  Fault fault = Fault::kNoAnswer;
  FaultSite site;
  std::string error_code = "04";  // kErrorAnswer: "00".."05"
  bool error_with_data = false;   // kErrorAnswer: the error packet carries a data field
  int byte_index = -1;            // kDropByte/kCorruptByte: 0-based offset, -1 = the middle
  int count = 1;                  // kExtraBlocks: how many blocks past the image end;
                                  // kShortBlocks: the bytes each block still carries

  // Parses the command-line form, e.g. "error:04@request", "error+data:05@block:7",
  // "stall@block:100", "disconnect@block:50", "extra-blocks:3", "no-roleswap",
  // "drop@packet:5", "drop@packet:5:3" (byte 3), "corrupt@packet:5",
  // "bad-checksum@packet:5", "roleswap-announce", "no-answer", "repeat-block@block:4",
  // "swap-blocks@block:4", "foreign-packet@block:4", "short-blocks:200", "no-answer@erase:5",
  // "error:00@write:38", "disconnect@ram-write:100", "stall@os-bios-record". Sector
  // numbers may be written in hex with a 0x prefix ("erase:0x26").
  // Throws std::invalid_argument with a readable message on a bad spec.
  static FaultSpec Parse(const std::string& text);
};

// How the uploaded recovery program behaves and what its OS/BIOS record says. The
// defaults describe an SH3 fx-9860GII with its known flash chip, started from its OS.
struct ProgramConfig {
  // Which system starts a program uploaded in link receive mode: 0 the boot code, 1 the
  // fx-9860 OS, 2 the fx-9750GII OS, 3 the fx-7400GII OS, 4 the fx-9750GII OS (FRANCE).
  std::uint16_t caller_code = 1;
  std::uint16_t bios_type = 2;  // 0 standard ... 5 fx-7400GII, 6 fx-CG20, 7 GII-2
  // The boot code's identity bytes; nullopt: the eight flash bytes at 0xFFD0, where the
  // boot code keeps them.
  std::optional<std::array<std::uint8_t, 8>> bios_id;
  std::uint32_t flash_device = 0x7E0A00;
  std::uint32_t flash_manufacturer = 1;
  std::uint32_t processor_version = 0;  // PVR; an SH3 has none and reports 0
  std::uint32_t product = 0;            // PRR
  int erase_ms = 300;                   // time one sector erase takes
  int write_ms = 60;                    // time one 64 KiB flash write takes
  int restart_ms = 1500;                // from a restart until receive mode is back
  bool usb_reconnect_on_start = false;  // the program re-initialises USB when it starts
  // Without a driver for the display's contrast the program refuses "7A" (error 04).
  bool contrast_driver = true;

  // The 44-byte record (big-endian numbers) for caller code `caller`, given the run
  // parameter the upload put into the program and the flash. Besides the fields the PC
  // reads it carries, as the program does, the run parameter, the caller's return address
  // and stack pointer (at 4, 8, 12) and the flash size (at 24).
  std::array<std::uint8_t, kOsBiosRecordSize> Record(std::uint16_t caller, std::uint32_t run_parameter,
                                                     std::span<const std::uint8_t> flash) const;
};

// The SH4 unit with a flash chip and processor registers the recovery does not know:
// flash manufacturer 0x1F, device 0xDF1E, PVR 0x10300B00, PRR 0x2C00.
ProgramConfig UnknownSh4Program();

// What happened to one flash sector since the simulator started.
struct SectorHistory {
  int erases = 0;
  int writes = 0;
  int nor_violations = 0;  // writes into the sector while it was not erased
  int refused = 0;         // erases and writes aimed at the sector that were refused
};

// The calculator's state beyond the link, for tests and reports.
struct UnitStatus {
  enum class Mode {
    kReceive,         // link receive mode
    kProgram,         // the recovery program runs
    kForeignProgram,  // another uploaded program runs: the link is silent
    kRestarting,      // restarting; receive mode follows
  };
  Mode mode = Mode::kReceive;
  std::uint16_t caller_code = 0;        // the system a program uploaded now would report
  // What the display shows when it matters to the PC's user: "OS ERROR" after the program
  // started the boot code, "Waiting..." while a re-initialised USB link waits for the PC;
  // empty otherwise.
  std::string screen;
  std::vector<SectorHistory> sectors;   // one per 64 KiB sector of the flash
  std::uint64_t nor_violations = 0;
  std::vector<std::string> reports;     // NOR violations and refused program commands
  std::vector<std::uint32_t> contrasts; // every LCD contrast value set, in order
  int uploads = 0;                      // complete program uploads
  int restarts = 0;
  std::uint32_t load_address = 0;       // of the last complete upload
  std::uint32_t start_address = 0;

  // True when sector 0 was erased or written, or a request to do so came (the program
  // refuses those, so only the request shows).
  bool Sector0Touched() const {
    return !sectors.empty() && (sectors[0].erases > 0 || sectors[0].writes > 0 || sectors[0].refused > 0);
  }
};

struct SimConfig {
  std::vector<std::uint8_t> flash;  // empty: flash_size bytes of a deterministic pattern
  std::vector<std::uint8_t> ram;    // empty: ram_size bytes of a deterministic pattern
  std::size_t flash_size = kFlashSize;
  std::size_t ram_size = kRamSize;
  bool usb_port = true;             // false: a unit with the 3-pin port only (StartUsb throws)
  DeviceInfo device_info;
  int initial_baud = 9600;          // serial speed at start (9600 or 115200)
  bool line_rate_throttle = false;  // serial: pace output at 10 bits per byte of the speed
  int answer_latency_ms = 0;        // delay before each answered data packet (real USB ~30)
  // Receive mode is entered this many ms after the simulator is constructed (0: at once;
  // negative: only by EnterReceiveMode()). Outside it the calculator does not answer.
  int receive_mode_delay_ms = 0;
  std::vector<FaultSpec> faults;
  ProgramConfig program;
  // Called (on the simulator's thread) with each report line as it happens, e.g. a NOR
  // violation; every line is also kept in UnitStatus::reports.
  std::function<void(const std::string&)> report;
};

// The deterministic pattern used for generated contents.
std::vector<std::uint8_t> GeneratePattern(std::size_t size, std::uint32_t seed);

enum class Endpoint { kUsb, kSerial };

// One packet the PC sent, as it came over the wire.
struct Packet {
  Endpoint endpoint = Endpoint::kUsb;
  std::vector<std::uint8_t> bytes;  // the whole packet exactly as received (no trailing 0x00)
  std::uint8_t type = 0;
  std::string subtype;              // the two subtype characters
  bool has_data = false;            // data flag "1"
  std::vector<std::uint8_t> data;   // data field as on the wire (still escaped)
  bool checksum_ok = false;
  bool trailing_nul = false;        // a 0x00 followed the packet
};

struct Counters {
  std::uint64_t blocks_sent = 0;      // data blocks of read-outs
  std::uint64_t packets_sent = 0;     // every packet the calculator built
  std::uint64_t bytes_sent = 0;       // bytes written to the endpoints
  std::uint64_t bytes_received = 0;   // bytes read from the PC and processed
  std::uint64_t bytes_dropped = 0;    // serial bytes lost to a speed mismatch
  std::uint64_t connections = 0;      // USB connections accepted
};

class Simulator {
 public:
  explicit Simulator(SimConfig config);
  ~Simulator();  // Stop()
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Creates the USB stand-in: a Unix-domain SOCK_STREAM socket at socket_path (in a fresh
  // temporary folder when empty) and returns its path. Until the calculator is in receive
  // mode the socket file exists but connect() fails with ECONNREFUSED. One PC session at a
  // time; after the PC closes its connection the next one is accepted. Throws
  // std::invalid_argument for a unit without a USB port.
  std::string StartUsb(std::string socket_path = "");
  // Opens a pseudo terminal (raw, 9600 baud) and returns the slave's path for the PC.
  std::string StartSerial();
  // Enters receive mode now (before the configured delay ran out).
  void EnterReceiveMode();
  bool InReceiveMode() const;
  // Stops the endpoint thread and removes the endpoints. Idempotent.
  void Stop();

  // Every packet the PC sent, in order (a copy).
  std::vector<Packet> ReceivedPackets() const;
  // Every byte the PC sent that reached the calculator, in order (including 0x00 and
  // bytes skipped as garbage; not the serial bytes lost to a speed mismatch).
  std::vector<std::uint8_t> ReceivedBytes() const;
  // The calculator's current serial speed.
  int CurrentBaud() const;
  Counters GetCounters() const;

  // The calculator's memories, written by the recovery program and by uploads. They keep
  // their size and place; read them while the PC side is not talking to the calculator.
  const std::vector<std::uint8_t>& Flash() const;
  const std::vector<std::uint8_t>& Ram() const;
  UnitStatus Status() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace fxsim

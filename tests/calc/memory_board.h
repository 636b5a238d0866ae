#pragma once
// The calculator program's hardware table backed by memory, for running the command engine
// on the PC: a scripted link, a flash with NOR rules (an erase sets a sector to 0xFF,
// programming can only clear bits), the staging area, the contrast and the ways out.

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "board.h"
#include "wire.h"

namespace ostrel::testing {

class MemoryBoard {
 public:
  static constexpr int kTimeout = -1;  // a scripted pause that outlasts any wait

  explicit MemoryBoard(std::uint32_t flash_size = 0x400000);
  MemoryBoard(const MemoryBoard&) = delete;
  MemoryBoard& operator=(const MemoryBoard&) = delete;

  const calc_board& Board() const { return board_; }
  calc_board& Board() { return board_; }

  // Link: bytes the PC sends (kTimeout entries make the engine's wait run out); an empty
  // script closes the link.
  void Receive(const std::vector<std::uint8_t>& bytes);
  void ReceivePause() { incoming_.push_back(kTimeout); }
  // A command packet framed as the PC frames it.
  void ReceivePacket(std::uint8_t type, std::uint8_t subtype, const std::vector<std::uint8_t>& data = {});
  std::vector<std::uint8_t> TakeSent();

  std::vector<std::uint8_t> flash;
  std::vector<std::uint8_t> staging;
  calc_flash_ids ids{0x01, 0x7E0A00, 0};
  bool erase_fails = false;
  bool program_fails = false;
  bool erase_leaves_bits = false;  // the erase reports success but leaves a byte programmed
  std::vector<std::uint32_t> erased;    // addresses, in order
  std::vector<std::uint32_t> programmed;
  std::optional<std::uint32_t> contrast;
  bool contrast_refused = false;
  std::uint32_t pvr = 0x10300B00, prr = 0x2C00;
  std::optional<calc_leave> left;

 private:
  static int ReceiveByte(void* link, std::uint32_t timeout_ms);
  static void Send(void* link, const std::uint8_t* bytes, std::uint32_t length);
  static void Identify(void* context, calc_flash_ids* ids);
  static int Erase(void* context, std::uint32_t address);
  static int Program(void* context, std::uint32_t address, const std::uint8_t* source, std::uint32_t length);
  static void Read(void* context, std::uint32_t address, std::uint8_t* target, std::uint32_t length);
  static int SetContrast(void* context, std::uint32_t value);
  static void ProcessorIds(void* context, std::uint32_t* pvr, std::uint32_t* prr);
  static void Leave(void* context, calc_leave how);

  calc_board board_{};
  std::deque<int> incoming_;
  std::vector<std::uint8_t> sent_;
};

// Big-endian 32-bit words followed by raw bytes: the data of an extended command.
std::vector<std::uint8_t> Words(std::initializer_list<std::uint32_t> words,
                                const std::vector<std::uint8_t>& tail = {});

// Packets framed by the engine's own framing, for comparing answers.
std::vector<std::uint8_t> Framed(std::uint8_t type, std::uint8_t subtype,
                                 const std::vector<std::uint8_t>& data = {});
inline std::vector<std::uint8_t> AckPacket() { return {0x06, '0', '0', '0', '7', '0'}; }
std::vector<std::uint8_t> ErrorPacket(std::uint8_t code);

}  // namespace ostrel::testing

#pragma once
// The calculator's answers to the PC's packets on one link: a small state machine that
// knows nothing about sockets or ptys. It decides what to send; the endpoint code sends it.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "calculator_unit.h"
#include "fxsim/packet.h"
#include "fxsim/simulator.h"

namespace fxsim {

// The configured faults and the count of packets the calculator has sent (over all links,
// so a fault at packet N hits exactly once).
class FaultPlan {
 public:
  explicit FaultPlan(std::vector<FaultSpec> faults);

  bool NoAnswer() const { return no_answer_; }
  int ExtraBlocks() const { return extra_blocks_; }
  bool NoRoleSwap() const { return no_roleswap_; }
  bool AnnounceRoleSwap() const { return announce_roleswap_; }
  // Bytes each data block carries at most (kBlockPayload without the fault).
  std::size_t BlockBytes() const { return block_bytes_; }

  // Takes the number of the next outgoing packet and returns the first fault that hits
  // it, given what it answers (`answer` is kAnyTime for answers without a site of their
  // own, and `number` the block or sector number for the numbered sites); nullptr when
  // none does.
  const FaultSpec* NextPacket(FaultSite::Kind answer, int number);

 private:
  std::vector<FaultSpec> sited_;  // faults that hit a given packet
  std::vector<bool> spent_;       // per sited fault: a once-only site has hit
  bool no_answer_ = false;
  int extra_blocks_ = 0;
  bool no_roleswap_ = false;
  bool announce_roleswap_ = false;
  std::size_t block_bytes_ = kBlockPayload;
  int packets_ = 0;
};

struct OutgoingPacket {
  Bytes bytes;
  bool has_data = false;  // paced by the answer latency
  bool is_block = false;  // a data block of a read-out
  int work_ms = 0;        // the calculator is busy this long before it answers
};

struct Reaction {
  std::vector<OutgoingPacket> packets;
  int switch_to_baud = 0;   // serial speed to take once the packets are out (0: keep)
  bool disconnect = false;  // close the link once earlier output is out
  // Once earlier output is out: the calculator restarts (the unit is already restarting;
  // the link drops, receive mode comes back after ProgramConfig::restart_ms) ...
  bool restart = false;
  // ... or the USB connection is closed and the PC is expected to reconnect.
  bool reconnect = false;
};

class CalculatorSession {
 public:
  CalculatorSession(Endpoint endpoint, CalculatorUnit& unit, FaultPlan& plan, int baud);

  Reaction OnPacket(const Packet& packet);

  int Baud() const { return baud_; }
  void SetBaud(int baud) { baud_ = baud; }

 private:
  enum class State { kIdle, kAwaitRoleSwap, kSending, kUploading };
  enum class Image { kFlash, kRam };

  void OnCommand(const Packet& packet, Reaction& reaction);
  void OnRoleSwap(Reaction& reaction);
  void OnAck(Reaction& reaction);
  void OnUploadCommand(const Packet& packet, Reaction& reaction);
  void OnUploadBlock(const Packet& packet, Reaction& reaction);

  // The recovery program's side (program_session.cpp).
  void OnProgramPacket(const Packet& packet, Reaction& reaction);
  void OnProgramCommand(const Packet& packet, Reaction& reaction);
  void WriteRam(std::span<const std::uint8_t> data, Reaction& reaction);
  void WriteFlash(std::span<const std::uint8_t> data, Reaction& reaction);
  void EraseSector(std::span<const std::uint8_t> data, Reaction& reaction);
  void QueryOsBios(Reaction& reaction);
  void SetContrast(std::span<const std::uint8_t> data, Reaction& reaction);
  void Restart(Reaction& reaction, bool into_boot_code);
  // A command the program cannot carry out: reported and answered with error 00.
  void Refuse(Reaction& reaction, FaultSite::Kind site, int number, const std::string& why);

  // Sends `packet` unless a fault hits it; returns false when the normal answer did not
  // go out (an error packet replaced it, it was left out, or the calculator stalled or
  // disconnected), so the caller keeps its state.
  bool Answer(Reaction& reaction, FaultSite::Kind site, int block, OutgoingPacket packet);
  // The same in two steps, for commands that are carried out only when their answer is
  // not replaced: Replaces() applies a replacing fault and says so; Deliver() sends the
  // normal answer, damaged when the fault says so.
  bool Replaces(Reaction& reaction, const FaultSpec* fault);
  void Deliver(Reaction& reaction, const FaultSpec* fault, OutgoingPacket packet);
  bool AnswerError(Reaction& reaction, FaultSite::Kind site, std::string_view code);

  // A block fault that reorders the read-out: what goes out in place of the block.
  void SendOutOfOrder(Fault fault, int total, Reaction& reaction);
  OutgoingPacket DataBlock(int number, int total) const;
  OutgoingPacket DeviceInfoAnswer() const;
  std::span<const std::uint8_t> ImageBytes() const;
  int ImageBlocks() const;

  Endpoint endpoint_;
  CalculatorUnit& unit_;
  FaultPlan& plan_;
  int baud_;
  bool stalled_ = false;
  State state_ = State::kIdle;
  Image image_ = Image::kFlash;
  int next_block_ = 1;
  int block_fault_spent_ = 0;  // block whose fault has hit in this read-out
  bool extra_block_sent_ = false;
  bool held_back_ = false;  // a swap sent the next block first; this one comes next
  const FaultSpec* last_fault_ = nullptr;  // the fault that hit the last answer
  // The upload in progress.
  std::uint32_t upload_size_ = 0;
  std::uint32_t upload_load_ = 0;
  std::uint32_t upload_start_ = 0;
  int upload_blocks_ = 0;
  int next_upload_block_ = 1;
};

}  // namespace fxsim

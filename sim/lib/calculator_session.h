#pragma once
// The calculator's answers to the PC's packets on one link: a small state machine that
// knows nothing about sockets or ptys. It decides what to send; the endpoint code sends it.

#include <cstdint>
#include <span>
#include <vector>

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

  // Takes the number of the next outgoing packet and returns the first fault that hits
  // it, given what it answers (`answer` is kAnyTime for answers without a site of their
  // own, and `block` the data block number for kBlock); nullptr when none does.
  const FaultSpec* NextPacket(FaultSite::Kind answer, int block);

 private:
  std::vector<FaultSpec> sited_;  // faults that hit a given packet
  bool no_answer_ = false;
  int extra_blocks_ = 0;
  bool no_roleswap_ = false;
  bool announce_roleswap_ = false;
  int packets_ = 0;
};

struct OutgoingPacket {
  Bytes bytes;
  bool has_data = false;  // paced by the answer latency
  bool is_block = false;  // a data block of a read-out
};

struct Reaction {
  std::vector<OutgoingPacket> packets;
  int switch_to_baud = 0;   // serial speed to take once the packets are out (0: keep)
  bool disconnect = false;  // close the link once earlier output is out
};

class CalculatorSession {
 public:
  struct Memory {
    std::span<const std::uint8_t> flash;
    std::span<const std::uint8_t> ram;
    std::span<const std::uint8_t> device_info;
  };

  CalculatorSession(Endpoint endpoint, Memory memory, FaultPlan& plan, int baud);

  Reaction OnPacket(const Packet& packet);

  int Baud() const { return baud_; }
  void SetBaud(int baud) { baud_ = baud; }

 private:
  enum class State { kIdle, kAwaitRoleSwap, kSending };
  enum class Image { kFlash, kRam };

  void OnCommand(const Packet& packet, Reaction& reaction);
  void OnRoleSwap(Reaction& reaction);
  void OnAck(Reaction& reaction);

  // Sends `packet` unless a fault hits it; returns false when the normal answer did not
  // go out (an error packet replaced it, or the calculator stalled or disconnected), so
  // the caller keeps its state.
  bool Answer(Reaction& reaction, FaultSite::Kind site, int block, OutgoingPacket packet);
  bool AnswerError(Reaction& reaction, FaultSite::Kind site, std::string_view code);

  // A block fault that reorders the read-out: what goes out in place of the block.
  void SendOutOfOrder(Fault fault, int total, Reaction& reaction);
  OutgoingPacket DataBlock(int number, int total) const;
  OutgoingPacket DeviceInfoAnswer() const;
  std::span<const std::uint8_t> ImageBytes() const;
  int ImageBlocks() const;

  Endpoint endpoint_;
  Memory memory_;
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
};

}  // namespace fxsim

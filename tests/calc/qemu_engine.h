#pragma once
// The calculator program's command engine, compiled for big-endian SuperH with the image's
// flags, run under qemu-sh4eb as a Linux user program: the link is a stream socket on its
// standard input and output, the flash is a file (descriptor 3) with NOR rules.
// Exit status: 10 left for the BIOS, 11 rebooted, 12 the PC closed the link, 13 the cable
// was pulled after the byte count given as third argument.

#include <sys/types.h>

#include <string>
#include <vector>

#include "support/scripted_peer.h"

namespace ostrel::testing {

// Whether this build has the engine and qemu to run it.
bool QemuEngineAvailable();

class QemuEngine {
 public:
  static constexpr int kExitBios = 10, kExitReboot = 11, kExitLinkClosed = 12, kExitCablePulled = 13;

  // arguments: run parameter, caller's return address, byte count (hex). link: a connected
  // stream socket to use as the link (kept open by the caller); -1 makes a fresh pair
  // whose PC end this object owns.
  QemuEngine(const std::string& flash_path, std::vector<std::string> arguments = {}, int link = -1);
  ~QemuEngine();
  QemuEngine(const QemuEngine&) = delete;
  QemuEngine& operator=(const QemuEngine&) = delete;

  void Send(const ByteVector& bytes);
  // One answer packet as it came (type, header, data, checksum); short after 5 s silence.
  ByteVector ReceivePacket();
  ByteVector Exchange(const ByteVector& packet);
  // Closes the PC's end of the link.
  void Disconnect();
  // True when nothing arrives for a while.
  bool Silent();
  // The engine's exit status; -1 when it did not end within the limit.
  int ExitStatus(int limit_ms = 10000);

 private:
  ByteVector Read(std::size_t count, int timeout_ms = 5000);

  int link_ = -1;
  pid_t pid_ = -1;
};

}  // namespace ostrel::testing

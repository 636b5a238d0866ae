#pragma once
// The calculator's link receive mode up to the program upload, in front of the qemu-run
// command engine: a Unix-domain stream socket (what the USB channel opens as DEVICENAME)
// or a pseudo terminal (the 3-pin serial cable) that answers the check, the link settings,
// the device information and the upload ("56" and its blocks) as the calculator's own
// system does, keeps the uploaded program, and after the last block hands the line to the
// engine, which then answers every further command.

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "calc/qemu_engine.h"
#include "support/scripted_peer.h"
#include "support/temporary_folder.h"

namespace ostrel::testing {

class ReceiveModeFront {
 public:
  enum class Line { kUsbSocket, kSerial };

  // engine_arguments: passed to the engine (run parameter, return address, byte count).
  ReceiveModeFront(std::string flash_path, std::vector<std::string> engine_arguments = {},
                   Line line = Line::kUsbSocket);
  ~ReceiveModeFront();
  ReceiveModeFront(const ReceiveModeFront&) = delete;
  ReceiveModeFront& operator=(const ReceiveModeFront&) = delete;

  // What the PC opens: the socket (USB) or the terminal's path (serial).
  const std::string& LinePath() const { return line_path_; }

  // After the PC is done: the program it uploaded (unescaped block payloads), and the
  // engine's exit status (-1 when it never started or did not end).
  ByteVector UploadedProgram();
  int EngineExitStatus();

 private:
  void Serve();
  void ServeConnection();

  TemporaryFolder folder_;
  std::string line_path_;
  std::string flash_path_;
  std::vector<std::string> engine_arguments_;
  int listener_ = -1;
  int connection_ = -1;        // the accepted socket, or the terminal's master side
  int serial_slave_ = -1;      // held open, so the master never hangs up while the PC reopens
  std::atomic<bool> stopping_{false};
  ByteVector uploaded_;
  std::unique_ptr<QemuEngine> engine_;
  std::thread server_;
};

}  // namespace ostrel::testing

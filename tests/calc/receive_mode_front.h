#pragma once
// The calculator's link receive mode up to the program upload, in front of the qemu-run
// command engine: a Unix-domain stream socket (what the USB channel opens as DEVICENAME)
// that answers the check, the device information and the upload ("56" and its blocks) as
// the calculator's own system does, keeps the uploaded program, and after the last block
// hands the connection to the engine, which then answers every further command.

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
  // engine_arguments: passed to the engine (run parameter, return address, byte count).
  ReceiveModeFront(std::string flash_path, std::vector<std::string> engine_arguments = {});
  ~ReceiveModeFront();
  ReceiveModeFront(const ReceiveModeFront&) = delete;
  ReceiveModeFront& operator=(const ReceiveModeFront&) = delete;

  const std::string& SocketPath() const { return socket_path_; }

  // After the PC is done: the program it uploaded (unescaped block payloads), and the
  // engine's exit status (-1 when it never started or did not end).
  ByteVector UploadedProgram();
  int EngineExitStatus();

 private:
  void Serve();
  void ServeConnection();

  TemporaryFolder folder_;
  std::string socket_path_;
  std::string flash_path_;
  std::vector<std::string> engine_arguments_;
  int listener_ = -1;
  int connection_ = -1;
  std::atomic<bool> stopping_{false};
  ByteVector uploaded_;
  std::unique_ptr<QemuEngine> engine_;
  std::thread server_;
};

}  // namespace ostrel::testing

#pragma once
// Shared pieces of the protocol tests: short time-outs, a temp folder, stop-request reset.

#include <gtest/gtest.h>

#include <fstream>
#include <span>
#include <string>

#include "protocol/byte_sink.h"

#include <memory>
#include <string>

#include "protocol/fx9860sio.h"
#include "support/link_test_helpers.h"
#include "support/temporary_folder.h"
#include "support/recording_ui.h"

namespace ostrel::testing {

inline int CountLines(const RecordingUi& ui, const std::string& text) {
  int count = 0;
  for (const auto& line : ui.LogLines()) count += line == text ? 1 : 0;
  return count;
}

// A read-out's bytes in a file, written through as they come, so that a test reads what a
// read-out left also when it raised.
class TestFileSink : public TByteSink {
 public:
  explicit TestFileSink(std::string path) : path_(std::move(path)), out_(path_, std::ios::binary | std::ios::trunc) {}
  void Append(std::span<const std::uint8_t> bytes) override {
    out_.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out_.flush();
  }
  std::string Name() const override { return path_; }

 private:
  std::string path_;
  std::ofstream out_;
};

// The read-outs into the file at `path`.
inline int ReadFlashInto(TFX9860sio& sio, const std::string& path, std::uint16_t flags) {
  TestFileSink sink(path);
  return sio.ReceiveFlashImage("fls0", sink, flags);
}
inline int ReadRamInto(TFX9860sio& sio, const std::string& path) {
  TestFileSink sink(path);
  return sio.ReceiveRamImage("fls0", sink);
}

class ProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StopRequest() = stopNone;
  }
  void TearDown() override { StopRequest() = stopNone; }
  std::string PathIn(const std::string& name) const { return folder_.File(name); }

  // A USB link to a stream endpoint, opened (no session start).
  std::unique_ptr<TFX9860sio> OpenUsb(const std::string& endpoint, TLinkTimings timings = QuickTimings()) {
    TLinkTarget target;
    target.usb_device = endpoint;
    target.timings = timings;
    auto sio = std::make_unique<TFX9860sio>(LinkKind::Usb, ui_.Ui(), target);
    sio->Open(sio->UsbConnection());
    return sio;
  }

  RecordingUi ui_;
  TemporaryFolder folder_;
};

}  // namespace ostrel::testing

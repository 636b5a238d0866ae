#pragma once
// Shared pieces of the protocol tests: short time-outs, a temp folder, stop-request reset.

#include <gtest/gtest.h>

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

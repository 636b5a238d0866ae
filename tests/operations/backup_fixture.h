#pragma once
// Shared pieces of the backup tests: a temp folder, links to the simulator with short
// waits, a valid generated flash for it, and helpers for diagnostics lines and dialogs.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "env/operation_status.h"
#include "fxsim/simulator.h"
#include "image_test_folder.h"
#include "imagegen/image_generator.h"
#include "protocol/fx9860sio.h"
#include "support/link_test_helpers.h"
#include "support/recording_ui.h"

namespace ostrel::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes Prefix(const Bytes& bytes, std::size_t size) {
  return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(size, bytes.size())));
}

// A 4 MiB flash whose first 0x270000 bytes are a valid class-1 OS image with a known BIOS.
inline const Bytes& ValidFlash() {
  static const Bytes flash = [] {
    TestImageSpec spec;
    spec.size = 0x400000;
    return GenerateTestImage(spec);
  }();
  return flash;
}

inline fxsim::SimConfig ValidCalculator() {
  fxsim::SimConfig config;
  config.flash = ValidFlash();
  return config;
}

inline TLinkTarget UsbTarget(fxsim::Simulator& sim) {
  TLinkTarget target;
  target.usb_device = sim.StartUsb();
  target.timings = QuickTimings();
  return target;
}

inline TLinkTarget SerialTarget(fxsim::Simulator& sim) {
  TLinkTarget target;
  target.serial_port = sim.StartSerial();
  target.timings = QuickTimings();
  return target;
}

inline int CountOf(const std::vector<std::string>& texts, const std::string& text) {
  return static_cast<int>(std::count(texts.begin(), texts.end(), text));
}

// Position of the first line starting with `prefix` (from the end when `last`), -1 if none.
inline long LineIndex(const std::vector<std::string>& lines, const std::string& prefix, bool last = false) {
  long found = -1;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind(prefix, 0) == 0) {
      found = static_cast<long>(i);
      if (!last) break;
    }
  }
  return found;
}

// The box of a backup that ended early: the file holding the bytes (empty: none was
// written), the cause when one is known, and the target when one existed and was kept.
inline std::string IncompleteText(const std::string& file, std::uint64_t held, std::uint64_t expected,
                                  const std::string& cause = "", const std::string& kept_target = "") {
  const std::string counts = std::to_string(held) + " of " + std::to_string(expected);
  std::string text = file.empty() ? "Backup incomplete: no file was written (" + counts + " bytes read)."
                                  : "Backup incomplete: " + file + "\r\nholds " + counts + " bytes.";
  if (!cause.empty()) text += "\r\nCause: " + cause + ".";
  if (!kept_target.empty()) text += "\r\n" + kept_target + " was left as it was.";
  return text;
}

class BackupTest : public ::testing::Test {
 protected:
  void SetUp() override { StopRequest() = stopNone; }
  void TearDown() override { StopRequest() = stopNone; }

  std::string File(const std::string& name) const { return folder_.File(name); }

  // Sets the stop request (as the Cancel button does) once the operation has let the
  // user interface run `calls` times.
  void CancelAfter(int calls) {
    ui_.on_process_messages = [this, calls] {
      if (ui_.process_messages_calls == calls) StopRequest() = stopByUser;
    };
  }

  TempFolder folder_;
  RecordingUi ui_;
};

}  // namespace ostrel::testing

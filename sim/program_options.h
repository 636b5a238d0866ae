#pragma once
// The command-line options that describe the uploaded recovery program's unit (its OS/BIOS
// record, its timing, its USB behaviour), shared by the simulator programs.

#include <CLI/CLI.hpp>
#include <string>

#include "fxsim/simulator.h"

namespace fxsim {

class ProgramOptions {
 public:
  // Adds the options to `app`; Apply() reads them once the command line is parsed.
  explicit ProgramOptions(CLI::App& app);
  // Fills the program's settings and the OS version of the device information.
  // Throws std::invalid_argument for a malformed number or identity.
  void Apply(ProgramConfig& program, DeviceInfo& device_info) const;

 private:
  bool unknown_sh4_ = false;
  std::string caller_code_, bios_type_, bios_id_, flash_device_, flash_manufacturer_, pvr_, prr_;
  int erase_ms_ = -1;
  int write_ms_ = -1;
  int restart_ms_ = -1;
  bool usb_reconnect_ = false;
  bool no_contrast_driver_ = false;
  std::string os_version_;
};

}  // namespace fxsim

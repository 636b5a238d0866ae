#pragma once
// The command-line options that describe the simulated unit: its model, and what the
// uploaded recovery program finds there (its OS/BIOS record, its timing, its USB
// behaviour), shared by the simulator programs.

#include <CLI/CLI.hpp>
#include <string>

#include "fxsim/models.h"
#include "fxsim/simulator.h"

namespace fxsim {

class ProgramOptions {
 public:
  // Adds the options to `app`; Apply() reads them once the command line is parsed.
  explicit ProgramOptions(CLI::App& app);
  // Fills the program's settings and the device information: the model's, then the
  // single fields the options set. Throws std::invalid_argument for a malformed number or
  // identity, or an unknown model.
  void Apply(ProgramConfig& program, DeviceInfo& device_info) const;
  // The model given with --model, or the default model.
  const CalculatorModel& Model() const;
  // True when --model was given.
  bool ModelGiven() const { return !model_.empty(); }

 private:
  std::string model_;
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

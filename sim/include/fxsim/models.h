#pragma once
// The calculator models the simulator can stand in for: what each one reports in its
// device information with its OS in receive mode, the size of its memories, whether it has
// a USB port, and what the recovery program reads from it (BIOS type, the system that
// starts programs, flash chip and processor registers).
//
// Sources, and what is not known: the hardware identifiers, the processor text, the
// capacities and the field formats are those that public protocol notes list for real
// units (one full record, of an SH4 fx-9860GII-2 derivative, shows every field: the
// processor text names the SH7355 there too, the boot code fields are left empty, the OS
// offset is hexadecimal and the OS size is in KiB, in decimal). What an fx-9860G with its
// SH7337 or an fx-7400GII puts in the processor field has not been seen; they get the same
// text. The flash chips: 4 MiB (device 0x7E0A00 of manufacturer 1) in the fx-9860G, the
// fx-9860GII and the fx-9750GII, 2 MiB (device 0x49) in the fx-7400GII; the SH4 units are
// given the 4 MiB chip's ids, which is what the recovery expects of them.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "fxsim/simulator.h"

namespace fxsim {

struct CalculatorModel {
  std::string name;         // as given to --model, e.g. "fx-9860GII"
  std::string processor;    // the processor family and chip, for people: "SH3 (SH7355)"
  std::size_t flash_size;   // bytes
  std::size_t ram_size;     // bytes
  bool usb;                 // has a USB port (the fx-7400GII has the 3-pin port only)
  DeviceInfo device_info;   // with its OS in receive mode
  ProgramConfig program;    // the OS/BIOS record and chips the recovery program reads

  // One line for a help text: name, processor, memories and ports.
  std::string Summary() const;
};

// The model a simulator stands in for when none is named.
inline constexpr std::string_view kDefaultModelName = "fx-9860GII";

// Every model, the default first.
const std::vector<CalculatorModel>& CalculatorModels();

// The model of that name (letter case does not matter), or nullptr.
const CalculatorModel* FindCalculatorModel(std::string_view name);

// The model of that name; throws std::invalid_argument naming the known models.
const CalculatorModel& CalculatorModelNamed(std::string_view name);

// A configuration of the model with its memories filled with the simulator's pattern.
SimConfig ConfigFor(const CalculatorModel& model);

}  // namespace fxsim

#include "cli/simulated_calculator.h"

#include <cstdint>
#include <vector>

#include "fxsim/simulator.h"
#include "imagegen/image_generator.h"

namespace ostrel::cli {

namespace {

constexpr std::uint32_t kSimulatedFlashSize = 0x400000;

// The flash contents every simulated calculator gets.
std::vector<std::uint8_t> GeneratedFlash() {
  TestImageSpec spec;  // class 1, OS 02.00.0000, a known GII BIOS build, correct checksum
  spec.size = kSimulatedFlashSize;
  return GenerateTestImage(spec);
}

}  // namespace

TSimulatedCalculator::TSimulatedCalculator(SimulatedLink link) {
  fxsim::SimConfig config;
  config.flash = GeneratedFlash();
  config.initial_baud = 9600;
  simulator_ = std::make_unique<fxsim::Simulator>(std::move(config));
  endpoint_ = link == SimulatedLink::Usb ? simulator_->StartUsb() : simulator_->StartSerial();
}

TSimulatedCalculator::~TSimulatedCalculator() = default;

}  // namespace ostrel::cli

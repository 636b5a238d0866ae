#include "simulation/simulated_calculator.h"

#include "fxsim/simulator.h"
#include "simulation/simulated_flash.h"

namespace ostrel {

TSimulatedCalculator::TSimulatedCalculator(SimulatedLink link) {
  fxsim::SimConfig config;
  config.flash = SimulatedFlash();
  config.initial_baud = 9600;
  simulator_ = std::make_unique<fxsim::Simulator>(std::move(config));
  endpoint_ = link == SimulatedLink::Usb ? simulator_->StartUsb() : simulator_->StartSerial();
}

TSimulatedCalculator::~TSimulatedCalculator() = default;

std::string TSimulatedCalculator::Screen() const { return simulator_->Status().screen; }

}  // namespace ostrel

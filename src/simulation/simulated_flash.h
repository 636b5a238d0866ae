#pragma once
// The memories a simulated calculator starts with when the user asks for one: a flash that
// holds a valid OS image, and the recovery program the simulated calculator plays.

#include <cstdint>
#include <vector>

namespace fxsim {
struct CalculatorModel;
}

namespace ostrel {

// 4 MiB of flash whose first 0x270000 bytes hold a valid class-1 OS image: "CASIOWIN",
// OS version 02.00.0000, a known GII BIOS build (2009.0203.1852), calculator ID
// "OSTREL01", an SD-card model's type words and a correct OS checksum over a
// deterministic fill, so that a backup of it passes the image check.
std::vector<std::uint8_t> SimulatedFlash();

// The flash of a unit of that model, holding a valid OS image of the kind the model runs:
// its flash size, an OS layout and version its BIOS takes, and a known BIOS build of the
// model's BIOS type (an fx-7400GII: 2 MiB, an OS of its own layout class on its BIOS; a
// GII-2: the GII-2 BIOS; an fx-9860G: the standard BIOS with an OS 1.x).
std::vector<std::uint8_t> SimulatedFlashOf(const fxsim::CalculatorModel& model);

// A program image with the recovery program's header (10240 bytes, loaded and started at
// 0x88024000), which a simulated calculator takes for the recovery program.
std::vector<std::uint8_t> SimulatedRecoveryProgram();

}  // namespace ostrel

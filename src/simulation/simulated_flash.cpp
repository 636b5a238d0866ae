#include "simulation/simulated_flash.h"

#include <span>
#include <string_view>

#include "base/big_endian.h"
#include "fxsim/models.h"
#include "fxsim/simulator.h"
#include "operations/flash_image_layout.h"

namespace ostrel {

namespace {

constexpr std::uint32_t kSimulatedFlashSize = 0x400000;
constexpr std::string_view kSimulatedOsDate = "2009.0601.1200";
constexpr std::string_view kSimulatedCalcId = "OSTREL01";
constexpr std::uint32_t kSimulatedTypeInfo1 = 0x47593336;  // "GY36"
constexpr std::uint32_t kSimulatedTypeInfo2 = 0xFFAA0001;  // an SD-card model
constexpr std::uint32_t kSimulatedSyscallAddress = 0x80010070;
constexpr std::uint32_t kFlashFillSeed = 0x9860;

// The OS a simulated unit of a BIOS type holds: its layout class, version and BIOS build
// (a row of KnownBiosTable of that type).
struct SimulatedOs {
  int os_class;
  std::string_view version;
  std::size_t bios_row;
};

SimulatedOs OsOfBiosType(std::uint16_t bios_type) {
  switch (bios_type) {
    case 0: return {0, "01.04.0000", 0};  // standard BIOS 2005.0623.1652: an OS 1.x
    case 5: return {3, "02.00.0000", 9};  // fx-7400GII BIOS 2009.0327.1515: its own layout
    // GII-2 BIOS 2011.0525.1010. A GII-2 on OS 2.02 cannot be recovered from its OS; its
    // default OS is one that can.
    case 7: return {1, "03.00.0000", 10};
    default: return {1, "02.00.0000", 6};  // GII BIOS 2009.0203.1852
  }
}

std::vector<std::uint8_t> FlashWithOs(std::size_t flash_size, const SimulatedOs& os) {
  std::vector<std::uint8_t> bytes = fxsim::GeneratePattern(flash_size, kFlashFillSeed);
  const std::span<std::uint8_t> image(bytes);
  const OsLayout& layout = kOsLayouts[static_cast<std::size_t>(os.os_class)];
  const KnownBios& bios = KnownBiosTable[os.bios_row];
  WriteOsImageFields(image, layout,
                     {kSimulatedTypeInfo1, kSimulatedTypeInfo2, bios.date, kSimulatedCalcId, bios.checksum, kOsSignature,
                      os.version, kSimulatedSyscallAddress, kSimulatedOsDate});
  WriteWordField(image, layout.OsChecksumField(), OsChecksum(image, layout));
  return bytes;
}

constexpr std::uint32_t kRecoveryProgramSize = 10240;
constexpr std::uint32_t kRecoveryProgramAddress = 0x88024000;  // load and start address
constexpr std::uint32_t kRecoveryProgramFillSeed = 7;

}  // namespace

std::vector<std::uint8_t> SimulatedFlash() { return FlashWithOs(kSimulatedFlashSize, OsOfBiosType(2)); }

std::vector<std::uint8_t> SimulatedFlashOf(const fxsim::CalculatorModel& model) {
  return FlashWithOs(model.flash_size, OsOfBiosType(model.program.bios_type));
}

std::vector<std::uint8_t> SimulatedRecoveryProgram() {
  std::vector<std::uint8_t> bytes = fxsim::GeneratePattern(kRecoveryProgramSize, kRecoveryProgramFillSeed);
  WriteBigEndianWord(&bytes[36], kRecoveryProgramAddress);  // load address
  WriteBigEndianWord(&bytes[40], kRecoveryProgramAddress);  // start address
  return bytes;
}

}  // namespace ostrel

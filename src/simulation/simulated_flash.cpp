#include "simulation/simulated_flash.h"

#include <span>
#include <string_view>

#include "base/big_endian.h"
#include "fxsim/simulator.h"
#include "operations/flash_image_layout.h"

namespace ostrel {

namespace {

constexpr std::uint32_t kSimulatedFlashSize = 0x400000;
constexpr int kSimulatedOsClass = 1;
constexpr std::string_view kSimulatedOsVersion = "02.00.0000";
constexpr std::string_view kSimulatedOsDate = "2009.0601.1200";
constexpr std::string_view kSimulatedCalcId = "OSTREL01";
constexpr std::uint32_t kSimulatedTypeInfo1 = 0x47593336;  // "GY36"
constexpr std::uint32_t kSimulatedTypeInfo2 = 0xFFAA0001;  // an SD-card model
constexpr std::uint32_t kSimulatedSyscallAddress = 0x80010070;
constexpr std::size_t kSimulatedBiosRow = 6;  // KnownBiosTable: 2009.0203.1852, a GII BIOS
constexpr std::uint32_t kFlashFillSeed = 0x9860;

constexpr std::uint32_t kRecoveryProgramSize = 10240;
constexpr std::uint32_t kRecoveryProgramAddress = 0x88024000;  // load and start address
constexpr std::uint32_t kRecoveryProgramFillSeed = 7;

}  // namespace

std::vector<std::uint8_t> SimulatedFlash() {
  std::vector<std::uint8_t> bytes = fxsim::GeneratePattern(kSimulatedFlashSize, kFlashFillSeed);
  const std::span<std::uint8_t> image(bytes);
  const OsLayout& layout = kOsLayouts[kSimulatedOsClass];
  const KnownBios& bios = KnownBiosTable[kSimulatedBiosRow];

  WriteOsImageFields(image, layout,
                     {kSimulatedTypeInfo1, kSimulatedTypeInfo2, bios.date, kSimulatedCalcId, bios.checksum, kOsSignature,
                      kSimulatedOsVersion, kSimulatedSyscallAddress, kSimulatedOsDate});
  WriteWordField(image, layout.OsChecksumField(), OsChecksum(image, layout));
  return bytes;
}

std::vector<std::uint8_t> SimulatedRecoveryProgram() {
  std::vector<std::uint8_t> bytes = fxsim::GeneratePattern(kRecoveryProgramSize, kRecoveryProgramFillSeed);
  WriteBigEndianWord(&bytes[36], kRecoveryProgramAddress);  // load address
  WriteBigEndianWord(&bytes[40], kRecoveryProgramAddress);  // start address
  return bytes;
}

}  // namespace ostrel

#include "fxsim/models.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace fxsim {

namespace {

constexpr std::size_t kKiB = 1024;
constexpr std::size_t kSmallFlashSize = 0x200000;

// What every model reports alike: the processor text seen from real units, the memory
// sizes in KiB as decimal digits, the boot code fields left empty and the OS from flash
// offset 0x10000. The OS size is that of the OS area (0x10000 up to the storage memory at
// 0x270000; up to 0x1E0000 in a 2 MiB flash), in KiB.
DeviceInfo ReceiveModeInfo(std::string hardware_id, std::size_t flash_size, std::string os_version) {
  DeviceInfo info;
  info.hardware_id = std::move(hardware_id);
  info.flash_rom_capacity = DecimalField(flash_size / kKiB);
  info.ram_capacity = DecimalField(kRamSize / kKiB);
  info.os_code_size = DecimalField(OsAreaSize(flash_size) / kKiB);
  info.fallback_os_version = std::move(os_version);
  return info;
}

ProgramConfig Program(std::uint16_t caller_code, std::uint16_t bios_type, bool sh4, std::uint32_t flash_device) {
  ProgramConfig program;
  program.caller_code = caller_code;
  program.bios_type = bios_type;
  program.flash_device = flash_device;
  program.flash_manufacturer = 1;
  program.processor_version = sh4 ? 0x10300B00 : 0;  // an SH3 has no PVR and reports 0
  program.product = sh4 ? 0x2C00 : 0;
  return program;
}

CalculatorModel Model(std::string name, std::string processor, std::size_t flash_size, bool usb,
                      std::string hardware_id, std::string os_version, ProgramConfig program) {
  return {std::move(name), std::move(processor), flash_size, kRamSize, usb,
          ReceiveModeInfo(std::move(hardware_id), flash_size, std::move(os_version)), program};
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  return lower;
}

}  // namespace

std::string CalculatorModel::Summary() const {
  return name + ": " + processor + ", " + std::to_string(flash_size / kKiB / kKiB) + " MiB flash, " +
         std::to_string(ram_size / kKiB) + " KiB RAM, " + (usb ? "USB and 3-pin serial" : "3-pin serial only") +
         ", hardware id " + device_info.hardware_id;
}

const std::vector<CalculatorModel>& CalculatorModels() {
  static const std::vector<CalculatorModel> models = {
      // caller code 1: the fx-9860 OS; BIOS type 2: GII, 0: standard, 5: fx-7400GII, 7: GII-2.
      Model("fx-9860GII", "SH3 (SH7355)", kFlashSize, true, "Gy363006", "02.00.0200", Program(1, 2, false, 0x7E0A00)),
      Model("fx-9860G", "SH3 (SH7337)", kFlashSize, true, "Gy363004", "01.04.0200", Program(1, 0, false, 0x7E0A00)),
      Model("fx-7400GII", "SH3 (SH7355)", kSmallFlashSize, false, "Gy490006", "02.00.0200",
            Program(3, 5, false, 0x49)),
      Model("fx-9860GII-2", "SH4 (SH7305)", kFlashSize, true, "Gy363007", "02.02.0200", Program(1, 7, true, 0x7E0A00)),
      Model("fx-9750GII-2", "SH4 (SH7305)", kFlashSize, true, "Gy362007", "02.02.0200", Program(2, 7, true, 0x7E0A00)),
  };
  return models;
}

const CalculatorModel* FindCalculatorModel(std::string_view name) {
  const std::string wanted = Lower(name);
  for (const CalculatorModel& model : CalculatorModels()) {
    if (Lower(model.name) == wanted) return &model;
  }
  return nullptr;
}

const CalculatorModel& CalculatorModelNamed(std::string_view name) {
  if (const CalculatorModel* model = FindCalculatorModel(name)) return *model;
  std::string known;
  for (const CalculatorModel& model : CalculatorModels()) known += (known.empty() ? "" : ", ") + model.name;
  throw std::invalid_argument("unknown calculator model \"" + std::string(name) + "\" (known: " + known + ")");
}

SimConfig ConfigFor(const CalculatorModel& model) {
  SimConfig config;
  config.flash_size = model.flash_size;
  config.ram_size = model.ram_size;
  config.usb_port = model.usb;
  config.device_info = model.device_info;
  config.program = model.program;
  return config;
}

}  // namespace fxsim

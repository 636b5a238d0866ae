#include "program_options.h"

#include <stdexcept>

namespace fxsim {

namespace {

// A number in decimal or, with a 0x prefix, in hex, that fits `bits` bits.
std::uint32_t ParseValue(const std::string& text, const char* option, int bits) {
  std::size_t used = 0;
  unsigned long long value = 0;
  try {
    value = std::stoull(text, &used, 0);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || text[0] == '-' || (bits < 64 && value >> bits != 0)) {
    throw std::invalid_argument(std::string(option) + ": \"" + text + "\" is not a number of " +
                                std::to_string(bits) + " bits");
  }
  return static_cast<std::uint32_t>(value);
}

std::array<std::uint8_t, 8> ParseIdentity(const std::string& text) {
  if (text.size() != 16 || text.find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos) {
    throw std::invalid_argument("--bios-id: \"" + text + "\" is not sixteen hex digits");
  }
  std::array<std::uint8_t, 8> id{};
  for (std::size_t i = 0; i < id.size(); ++i) {
    id[i] = static_cast<std::uint8_t>(std::stoul(text.substr(2 * i, 2), nullptr, 16));
  }
  return id;
}

// The models, one per line, for the end of the help text.
std::string ModelList() {
  std::string text = "Models (--model; the device information is what the model reports with its OS in receive mode):\n";
  for (const CalculatorModel& model : CalculatorModels()) text += "  " + model.Summary() + "\n";
  return text;
}

}  // namespace

ProgramOptions::ProgramOptions(CLI::App& app) {
  app.add_option("--model", model_,
                 "The calculator model (default " + std::string(kDefaultModelName) +
                     "): its memories, ports, device information and recovery-program record; see the list below")
      ->type_name("NAME");
  app.footer(ModelList());
  const char* group = "Recovery program (after an upload whose start address is its load address)";
  app.add_flag("--unknown-sh4", unknown_sh4_,
               "An SH4 unit the recovery does not know: GII-2 BIOS, flash manufacturer 0x1F, device 0xDF1E, "
               "PVR 0x10300B00, PRR 0x2C00 (the options below override single fields)")
      ->group(group);
  app.add_option("--caller-code", caller_code_,
                 "System that starts a program in receive mode: 0 boot code, 1 fx-9860 OS (default), "
                 "2 fx-9750GII OS, 3 fx-7400GII OS, 4 fx-9750GII OS (FRANCE)")
      ->type_name("N")
      ->group(group);
  app.add_option("--bios-type", bios_type_, "BIOS type in the OS/BIOS record (default 2, GII)")
      ->type_name("N")
      ->group(group);
  app.add_option("--bios-id", bios_id_,
                 "The eight identity bytes as sixteen hex digits (default: the flash bytes at 0xFFD0)")
      ->type_name("HEX")
      ->group(group);
  app.add_option("--flash-device", flash_device_, "Flash device id (default 0x7E0A00)")->type_name("N")->group(group);
  app.add_option("--flash-manufacturer", flash_manufacturer_, "Flash manufacturer id (default 1)")
      ->type_name("N")
      ->group(group);
  app.add_option("--pvr", pvr_, "Processor version register (default 0, an SH3)")->type_name("N")->group(group);
  app.add_option("--prr", prr_, "Product register (default 0)")->type_name("N")->group(group);
  app.add_option("--erase-ms", erase_ms_, "Time a sector erase takes (default 300)")
      ->check(CLI::NonNegativeNumber)
      ->type_name("MS")
      ->group(group);
  app.add_option("--write-ms", write_ms_, "Time a 64 KiB flash write takes (default 60)")
      ->check(CLI::NonNegativeNumber)
      ->type_name("MS")
      ->group(group);
  app.add_option("--restart-ms", restart_ms_,
                 "Time from a restart (BIOS start-up, reboot) until receive mode is back (default 1500)")
      ->check(CLI::NonNegativeNumber)
      ->type_name("MS")
      ->group(group);
  app.add_flag("--usb-reconnect", usb_reconnect_,
               "The program re-initialises USB when it starts, so the PC has to connect again "
               "(a GII-2 whose OS version reads 00.10.0300)")
      ->group(group);
  app.add_flag("--no-contrast-driver", no_contrast_driver_,
               "The program has no driver for the LCD contrast and refuses \"7A\" (error 04)")
      ->group(group);
  app.add_option("--os-version", os_version_,
                 "OS version in the device information (e.g. 02.02.0200 or 00.10.0300 for the GII-2 cases)")
      ->type_name("TEXT")
      ->group(group);
}

const CalculatorModel& ProgramOptions::Model() const {
  return CalculatorModelNamed(model_.empty() ? kDefaultModelName : model_);
}

void ProgramOptions::Apply(ProgramConfig& program, DeviceInfo& device_info) const {
  const CalculatorModel& model = Model();
  program = model.program;
  device_info = model.device_info;
  if (unknown_sh4_) {
    const ProgramConfig sh4 = UnknownSh4Program();
    program.bios_type = sh4.bios_type;
    program.flash_device = sh4.flash_device;
    program.flash_manufacturer = sh4.flash_manufacturer;
    program.processor_version = sh4.processor_version;
    program.product = sh4.product;
  }
  if (!caller_code_.empty()) program.caller_code = static_cast<std::uint16_t>(ParseValue(caller_code_, "--caller-code", 16));
  if (!bios_type_.empty()) program.bios_type = static_cast<std::uint16_t>(ParseValue(bios_type_, "--bios-type", 16));
  if (!bios_id_.empty()) program.bios_id = ParseIdentity(bios_id_);
  if (!flash_device_.empty()) program.flash_device = ParseValue(flash_device_, "--flash-device", 32);
  if (!flash_manufacturer_.empty()) {
    program.flash_manufacturer = ParseValue(flash_manufacturer_, "--flash-manufacturer", 32);
  }
  if (!pvr_.empty()) program.processor_version = ParseValue(pvr_, "--pvr", 32);
  if (!prr_.empty()) program.product = ParseValue(prr_, "--prr", 32);
  if (erase_ms_ >= 0) program.erase_ms = erase_ms_;
  if (write_ms_ >= 0) program.write_ms = write_ms_;
  if (restart_ms_ >= 0) program.restart_ms = restart_ms_;
  if (usb_reconnect_) program.usb_reconnect_on_start = true;
  if (no_contrast_driver_) program.contrast_driver = false;
  if (!os_version_.empty()) device_info.os_code_version = os_version_;
}

}  // namespace fxsim

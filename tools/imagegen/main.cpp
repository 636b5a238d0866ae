// ostrel-imagegen: writes a test flash image.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <string>

#include "imagegen/image_generator.h"

namespace {

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

// Writes the program image; the exit status.
int WriteProgram(const ostrel::TestProgramSpec& program_spec, const std::string& output) {
  try {
    ostrel::WriteImageFile(ostrel::GenerateTestProgram(program_spec), output);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ostrel-imagegen: %s\n", e.what());
    return 1;
  }
  std::printf("%s: program of %u bytes, load 0x%08X, start 0x%08X\n", output.c_str(), program_spec.size,
              program_spec.load_address, program_spec.start_address);
  return 0;
}

// Writes the flash image and says what it holds; the exit status.
int WriteImage(const ostrel::TestImageSpec& spec, const std::string& output) {
  try {
    ostrel::ResolvedTestImage r{};
    ostrel::WriteTestImage(spec, output, &r);
    std::printf("%s: size 0x%08X, OS %s, class %d, BIOS row %d (%s), OS checksum 0x%08X%s\n",
                output.c_str(), r.size, r.os_version.c_str(), r.layout_class, r.bios_row,
                r.bios_date.c_str(), r.os_checksum, spec.correct_checksum ? "" : " (stored wrong)");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ostrel-imagegen: %s\n", e.what());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Writes a flash image for tests and demonstrations: chosen size, OS version, "
               "layout class and BIOS build, a correct or a wrong OS checksum, and a "
               "deterministic pseudo-random fill. Numbers may be written in hex (0x...)."};
  ostrel::TestImageSpec spec;
  std::string output;
  std::uint32_t size = 0;
  std::string os_version;
  int layout_class = 1;
  int bios_row = 7;
  std::string bios_date;
  std::uint32_t bios_checksum = 0;
  bool wrong_checksum = false;
  bool no_signature = false;
  bool program = false;
  ostrel::TestProgramSpec program_spec;

  app.add_option("-o,--output", output, "Image file to write")->required();
  auto* size_opt = app.add_option("--size", size, "File size (default: the class minimum, "
                                                  "0x270000 or 0x200000 for class 3)");
  auto* version_opt = app.add_option("--os-version", os_version, "OS version, e.g. 02.00.0000");
  auto* class_opt = app.add_option("--class", layout_class, "OS layout class")->check(CLI::Range(0, 3));
  auto* row_opt = app.add_option("--bios-row", bios_row, "Row 1..11 of the known BIOS table, 0 for an unknown BIOS")
                      ->check(CLI::Range(0, 11));
  auto* date_opt = app.add_option("--bios-date", bios_date, "BIOS date (overrides the row's)");
  auto* chk_opt = app.add_option("--bios-checksum", bios_checksum, "BIOS checksum (overrides the row's)");
  app.add_flag("--wrong-checksum", wrong_checksum, "Store an OS checksum that is off by one");
  app.add_option("--calc-id", spec.calc_id, "Calculator ID (8 characters)")->capture_default_str();
  app.add_flag("--erased-id", spec.erased_calc_id, "Calculator ID erased (8 bytes 0xFF)");
  app.add_option("--typeinfo1", spec.type_info1, "TYPEINFO1 word")->default_str(Hex(spec.type_info1));
  app.add_option("--typeinfo2", spec.type_info2, "TYPEINFO2 word")->default_str(Hex(spec.type_info2));
  app.add_option("--syscall-address", spec.syscall_address, "System-call table address")
      ->default_str(Hex(spec.syscall_address));
  app.add_option("--os-date", spec.os_date, "OS date (YYYY.MMDD.hhmm)")->capture_default_str();
  app.add_flag("--no-signature", no_signature, "Leave out the OS signature");
  app.add_option("--seed", spec.seed, "Seed of the fill pattern")->capture_default_str();
  app.add_flag("--program", program,
               "Write a program image for upload-and-run instead (--size, --load-address, "
               "--start-address, --seed); the defaults make the recovery program a simulated "
               "calculator plays: 10240 bytes at 0x88024000");
  app.add_option("--load-address", program_spec.load_address, "Program load address")
      ->default_str(Hex(program_spec.load_address));
  app.add_option("--start-address", program_spec.start_address, "Program start address")
      ->default_str(Hex(program_spec.start_address));

  CLI11_PARSE(app, argc, argv);

  if (size_opt->count()) spec.size = size;
  if (version_opt->count()) spec.os_version = os_version;
  if (class_opt->count()) spec.layout_class = layout_class;
  if (row_opt->count()) spec.bios_row = bios_row;
  if (date_opt->count()) spec.bios_date = bios_date;
  if (chk_opt->count()) spec.bios_checksum = bios_checksum;
  spec.correct_checksum = !wrong_checksum;
  spec.signature = !no_signature;

  if (program) {
    if (size_opt->count()) program_spec.size = size;
    program_spec.seed = spec.seed;
    return WriteProgram(program_spec, output);
  }
  return WriteImage(spec, output);
}

// `ostrel recover` against the calculator program's own command engine: the PC uploads the
// program image this build made, the calculator's receive mode hands the link to the
// engine (compiled for big-endian SuperH, run under qemu-sh4eb, flash in a file), and the
// recovery runs through it over USB and over the serial line, also when the cable is pulled
// or the chip is too small. The simulated calculator, which plays the program in the other
// tests, must end each of these runs as the engine does.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "calc/qemu_engine.h"
#include "calc/receive_mode_front.h"
#include "fxsim/simulator.h"
#include "imagegen/image_generator.h"
#include "support/temporary_folder.h"
#include "support/test_files.h"

namespace ostrel::testing {
namespace {

#if defined(OSTREL_PROGRAM) && defined(OSTREL_CALC_PROGRAM)

constexpr std::uint32_t kSector = 0x10000;
constexpr std::uint32_t kImageSize = 0x270000;

class CalcRecoverCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!QemuEngineAvailable()) GTEST_SKIP() << "no SuperH cross tools or qemu-sh4eb in this build";
    image_ = GiiImage(kImageSize, 5);
    image_path_ = WriteFileText(folder_ / "os.bin", image_);
  }

  // An image of a GII unit (boot code type 2) with its calculator ID erased, so that it
  // fits any unit; with fx7400, of an fx-7400GII (boot code type 5).
  static std::string GiiImage(std::uint32_t size, std::uint64_t seed, bool fx7400 = false) {
    TestImageSpec spec;
    spec.size = size;
    spec.bios_row = fx7400 ? 10 : 7;
    if (fx7400) spec.layout_class = 3;
    spec.erased_calc_id = true;
    spec.seed = seed;
    const std::vector<std::uint8_t> bytes = GenerateTestImage(spec);
    return std::string(bytes.begin(), bytes.end());
  }

  // The calculator's flash: the same boot code as `image`, an older OS, a storage memory.
  static std::string CalculatorFlash(std::uint32_t size, const std::string& image, bool fx7400 = false) {
    std::string bytes = GiiImage(size, 9, fx7400);
    bytes.replace(0, kSector, image.substr(0, kSector));
    return bytes;
  }
  std::string CalculatorFlash(std::uint32_t size) const { return CalculatorFlash(size, image_); }

  // Runs `ostrel --yes recover IMAGE` over `line` (the cable options).
  int Recover(const std::string& image_path, const std::string& line) const {
    const std::string command = std::string("'") + OSTREL_PROGRAM + "' --yes recover '" + image_path + "' " + line +
                                " </dev/null >'" + (folder_ / "out.txt") + "' 2>'" + (folder_ / "err.txt") + "'";
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  int Recover(const ReceiveModeFront& front) const { return Recover(image_path_, "--device '" + front.LinePath() + "'"); }

  std::string Output() const { return ReadFileText(folder_ / "out.txt"); }
  std::string Errors() const { return ReadFileText(folder_ / "err.txt"); }
  std::string LastErrorLine() const {
    std::string text = Errors();
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text.substr(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
  }

  TemporaryFolder folder_;
  std::string image_, image_path_;
};

TEST_F(CalcRecoverCommand, RewritesTheFlashThroughTheUploadedProgram) {
  const std::string old_flash = CalculatorFlash(0x400000);
  const std::string flash_path = WriteFileText(folder_ / "flash.bin", old_flash);
  ReceiveModeFront front(flash_path);
  EXPECT_EQ(Recover(front), 0) << Errors();
  // The program this build made went up, with the run parameter 0 at offset 32.
  std::string program = ReadFileText(OSTREL_CALC_PROGRAM);
  program.replace(32, 4, std::string(4, '\0'));
  const ByteVector uploaded = front.UploadedProgram();
  EXPECT_TRUE(std::string(uploaded.begin(), uploaded.end()) == program);
  EXPECT_EQ(front.EngineExitStatus(), QemuEngine::kExitReboot);
  const std::string flash = ReadFileText(flash_path);
  ASSERT_EQ(flash.size(), old_flash.size());
  EXPECT_TRUE(flash.substr(0, kSector) == old_flash.substr(0, kSector)) << "sector 0 changed";
  EXPECT_TRUE(flash.substr(kSector, kImageSize - kSector) == image_.substr(kSector)) << "flash differs from the image";
  EXPECT_TRUE(flash.substr(kImageSize) == old_flash.substr(kImageSize)) << "storage memory changed";
}

TEST_F(CalcRecoverCommand, APulledCableLeavesSectorZeroAndTheHeaderBlockAlone) {
  const std::string old_flash = CalculatorFlash(0x400000);
  const std::string flash_path = WriteFileText(folder_ / "flash.bin", old_flash);
  // The cable goes after about 4 blocks of the write phase.
  ReceiveModeFront front(flash_path, {"0", "A0001000", "40000"});
  EXPECT_NE(Recover(front), 0);
  EXPECT_EQ(front.EngineExitStatus(), QemuEngine::kExitCablePulled);
  EXPECT_NE(LastErrorLine().find("flash not rewritten"), std::string::npos) << Errors();
  const std::string flash = ReadFileText(flash_path);
  EXPECT_TRUE(flash.substr(0, kSector) == old_flash.substr(0, kSector)) << "sector 0 changed";
  EXPECT_EQ(flash.substr(kSector, kSector), std::string(kSector, '\xFF')) << "the header block was written";
}

TEST_F(CalcRecoverCommand, AChipSmallerThanTheImageIsRefusedBeforeAnythingIsWritten) {
  const std::string old_flash = CalculatorFlash(0x200000);
  const std::string flash_path = WriteFileText(folder_ / "flash.bin", old_flash);
  ReceiveModeFront front(flash_path);
  EXPECT_NE(Recover(front), 0);
  EXPECT_NE(LastErrorLine().find("flash not rewritten"), std::string::npos) << Errors();
  const std::string flash = ReadFileText(flash_path);
  EXPECT_TRUE(flash.substr(0, kSector) == old_flash.substr(0, kSector)) << "sector 0 changed";
  // Sectors 1 to 31 were erased, the erase of sector 32 (outside the chip) was refused,
  // and nothing was written.
  EXPECT_EQ(flash.substr(kSector), std::string(0x200000 - kSector, '\xFF'));
}

TEST_F(CalcRecoverCommand, RecoversAnFx7400GiiOverTheSerialLine) {
  // The one model whose boot code updater uses the 3-pin cable, with its 2 MiB image.
  const std::string image = GiiImage(0x200000, 5, true);
  const std::string image_path = WriteFileText(folder_ / "os-7400.bin", image);
  const std::string old_flash = CalculatorFlash(0x200000, image, true);
  const std::string flash_path = WriteFileText(folder_ / "flash.bin", old_flash);
  ReceiveModeFront front(flash_path, {}, ReceiveModeFront::Line::kSerial);
  EXPECT_EQ(Recover(image_path, "--serial '" + front.LinePath() + "'"), 0) << Errors();
  EXPECT_EQ(Output(), "Flash rewritten from: " + image_path + "\n");
  EXPECT_EQ(front.EngineExitStatus(), QemuEngine::kExitReboot);
  const std::string flash = ReadFileText(flash_path);
  ASSERT_EQ(flash.size(), old_flash.size());
  EXPECT_TRUE(flash.substr(0, kSector) == old_flash.substr(0, kSector)) << "sector 0 changed";
  EXPECT_TRUE(flash.substr(kSector) == image.substr(kSector)) << "flash differs from the image";
}

// How one `ostrel recover` run ended, as the user and the calculator see it.
struct RecoveryEnd {
  int status = -1;
  std::string out;
  std::string last_error_line;  // compared only for a failed run (a success ends in progress lines)
  std::string flash;
};

TEST_F(CalcRecoverCommand, TheSimulatorEndsEveryRunAsTheProgramDoes) {
  // The same image and the same old flash, recovered once through the program's engine and
  // once through the simulated calculator (a unit started from its boot code, as the engine
  // finds itself): a chip that takes the image, and one too small for it.
  for (const std::uint32_t chip : {0x400000u, 0x200000u}) {
    SCOPED_TRACE("chip of " + std::to_string(chip / 0x100000) + " MiB");
    const std::string old_flash = CalculatorFlash(chip);

    RecoveryEnd engine;
    const std::string flash_path = WriteFileText(folder_ / "flash.bin", old_flash);
    {
      ReceiveModeFront front(flash_path);
      engine.status = Recover(front);
    }
    engine.out = Output();
    engine.last_error_line = LastErrorLine();
    engine.flash = ReadFileText(flash_path);

    RecoveryEnd simulated;
    fxsim::SimConfig config;
    config.flash.assign(old_flash.begin(), old_flash.end());
    config.program.caller_code = 0;
    config.program.bios_type = 2;
    config.program.erase_ms = 5;
    config.program.write_ms = 5;
    fxsim::Simulator sim(config);
    simulated.status = Recover(image_path_, "--device '" + sim.StartUsb() + "'");
    sim.Stop();
    simulated.out = Output();
    simulated.last_error_line = LastErrorLine();
    simulated.flash.assign(sim.Flash().begin(), sim.Flash().end());
    EXPECT_FALSE(sim.Status().Sector0Touched());
    EXPECT_EQ(sim.Status().nor_violations, 0u);

    EXPECT_EQ(simulated.status, engine.status) << Errors();
    EXPECT_EQ(simulated.out, engine.out);
    if (engine.status != 0) {
      EXPECT_EQ(simulated.last_error_line, engine.last_error_line);
    }
    ASSERT_EQ(simulated.flash.size(), engine.flash.size());
    EXPECT_TRUE(simulated.flash == engine.flash) << "the two flashes differ";
    EXPECT_TRUE(engine.flash.substr(0, kSector) == old_flash.substr(0, kSector)) << "sector 0 changed";
  }
}

#endif

}  // namespace
}  // namespace ostrel::testing

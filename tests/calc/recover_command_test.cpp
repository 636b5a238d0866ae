// `ostrel recover` against the calculator program's own command engine: the PC uploads the
// program image this build made, the calculator's receive mode hands the link to the
// engine (compiled for big-endian SuperH, run under qemu-sh4eb, flash in a file), and the
// recovery runs through it, also when the cable is pulled or the chip is too small.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "calc/qemu_engine.h"
#include "calc/receive_mode_front.h"
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
  // fits any unit.
  static std::string GiiImage(std::uint32_t size, std::uint64_t seed) {
    TestImageSpec spec;
    spec.size = size;
    spec.bios_row = 7;
    spec.erased_calc_id = true;
    spec.seed = seed;
    const std::vector<std::uint8_t> bytes = GenerateTestImage(spec);
    return std::string(bytes.begin(), bytes.end());
  }

  // The calculator's flash: the same boot code, an older OS, a storage memory.
  std::string CalculatorFlash(std::uint32_t size) const {
    std::string bytes = GiiImage(size, 9);
    bytes.replace(0, kSector, image_.substr(0, kSector));
    return bytes;
  }

  int Recover(const ReceiveModeFront& front) const {
    const std::string command = std::string("'") + OSTREL_PROGRAM + "' --yes recover '" + image_path_ +
                                "' --device '" + front.SocketPath() + "' </dev/null >'" + (folder_ / "out.txt") +
                                "' 2>'" + (folder_ / "err.txt") + "'";
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }

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

#endif

}  // namespace
}  // namespace ostrel::testing

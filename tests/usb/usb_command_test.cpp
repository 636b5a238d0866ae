// The `ostrel` program as a user runs it with a calculator on USB and no options: it
// finds the calculator by its ids through libusb. ostrel-usb-sim attaches the emulated
// calculator and runs the program in its testbed.

#include <sys/wait.h>

#include <cstdlib>

#include "support/program_run.h"
#include "support/test_files.h"
#include "usb_fixture.h"

namespace ostrel::testing {
namespace {

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

class UsbCommandTest : public ::testing::Test {
 protected:
  UsbCommandTest() {
    ram_ = fxsim::GeneratePattern(0x80000, 0x2F2F);
    WriteFileText(File("calculator.RAM"), std::string(ram_.begin(), ram_.end()));
  }

  std::string File(const std::string& name) const { return folder_.File(name); }

  // Runs `ostrel ARGUMENTS` (words without quotes or spaces) with the calculator attached,
  // standard input from /dev/null. The emulation starts afresh, outside this program's testbed.
  RunResult Run(const std::string& calculator_options, const std::string& arguments) const {
    const std::string command = std::string("env -u LD_PRELOAD -u UMOCKDEV_DIR '") + OSTREL_USB_SIM_PROGRAM +
                                "' --packet-delay 0 --ram '" + File("calculator.RAM") + "' " + calculator_options +
                                " -- '" + OSTREL_PROGRAM + "' " + arguments + " </dev/null >'" + File("stdout.txt") +
                                "' 2>'" + File("stderr.txt") + "'";
    RunResult result;
    const int raw = std::system(command.c_str());
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = ReadFileText(File("stdout.txt"));
    result.err = ReadFileText(File("stderr.txt"));
    return result;
  }

  Bytes ram_;
  TemporaryFolder folder_;
};

TEST_F(UsbCommandTest, InfoFindsTheCalculatorWithoutOptions) {
  const RunResult r = Run("", "info");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("HardwareIdentifier: Gy363006"), std::string::npos) << r.out;
}

TEST_F(UsbCommandTest, RamBackupIsTheCalculatorsRam) {
  const std::string file = File("memory.RAM");
  const RunResult r = Run("", "backup-ram " + file);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFileBytes(file), ram_);
}

TEST_F(UsbCommandTest, ACalculatorUnpluggedDuringABackupFailsTheCommand) {
  const std::string file = File("memory.RAM");
  const RunResult r = Run("--fault disconnect@block:50", "backup-ram " + file);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("holds 12544 of 524288 bytes."), std::string::npos) << r.err;
}

TEST_F(UsbCommandTest, ACalculatorInMassStorageModeEndsTheCommandAtOnce) {
  for (const char* product : {"6102", "6103"}) {
    const RunResult r = Run(std::string("--product ") + product, "info");
    EXPECT_EQ(r.status, 1) << product << "\n" << r.err;
    EXPECT_NE(LastLine(r.err).find("is a calculator in USB mass-storage mode"), std::string::npos) << r.err;
    EXPECT_NE(LastLine(r.err).find("receive mode"), std::string::npos) << "says what to do: " << r.err;
  }
}

}  // namespace
}  // namespace ostrel::testing

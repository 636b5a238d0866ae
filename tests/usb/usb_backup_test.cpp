// Device information, flash and RAM backups over the libusb path, against a calculator
// emulated on the USB level.

#include "operations/backup.h"
#include "operations/device_query.h"
#include "usb_fixture.h"

namespace ostrel::testing {
namespace {

class UsbBackupTest : public BackupTest {};

TEST_F(UsbBackupTest, DeviceInformationIsTheRecordTheCalculatorHolds) {
  fxsim::UsbCalculatorConfig config = QuickUsbCalculator();
  config.device_info.user_name = "USB LEVEL";
  fxsim::UsbCalculator calculator(config);
  TDeviceInfoRecord record{};
  // The OS fields are those of the OS in the flash the calculator serves.
  const auto expected = config.device_info.ServedWith(calculator.Flash()).Record();
  std::copy(expected.begin(), expected.end(), record.begin());

  const std::optional<std::string> text = ReadDeviceInformation(OPT_USB, ui_.Ui(), SearchTarget());

  ASSERT_TRUE(text.has_value()) << (ui_.dialogs.empty() ? "" : ui_.dialogs.front().text);
  EXPECT_EQ(*text, DeviceInfoText(record));
  EXPECT_TRUE(ui_.dialogs.empty());
}

TEST_F(UsbBackupTest, FlashBackupIsTheCalculatorsFlashAndPassesItsCheck) {
  fxsim::UsbCalculator calculator(QuickUsbCalculator());
  const std::string file = File("flash.bin");

  const TFlashBackupOutcome outcome = RunFlashBackup(file, OPT_USB, ui_.Ui(), SearchTarget());

  EXPECT_TRUE(outcome.Succeeded());
  EXPECT_EQ(outcome.backup.bytes_written, 0x270000u);
  EXPECT_EQ(ReadFileBytes(file), Prefix(calculator.Flash(), 0x270000));
  EXPECT_TRUE(ui_.dialogs.empty()) << ui_.dialogs.front().text;
}

struct RamCase {
  const char* name;
  bool named_node;
  bool zero_length_packets;
};

// The case as gtest shows it (test lists, failures).
void PrintTo(const RamCase& c, std::ostream* os) { *os << c.name; }

class UsbRamBackupTest : public UsbBackupTest, public ::testing::WithParamInterface<RamCase> {};

TEST_P(UsbRamBackupTest, IsTheCalculatorsRamByteForByte) {
  fxsim::UsbCalculatorConfig config = QuickUsbCalculator();
  config.zero_length_packets = GetParam().zero_length_packets;
  fxsim::UsbCalculator calculator(config);
  const std::string file = File("memory.RAM");
  const TLinkTarget target = GetParam().named_node ? NodeTarget(calculator) : SearchTarget();

  const TRamBackupOutcome outcome = RunRamBackup(file, OPT_USB, ui_.Ui(), target);

  EXPECT_TRUE(outcome.Succeeded());
  EXPECT_EQ(ReadFileBytes(file), calculator.Ram());
  EXPECT_TRUE(ui_.dialogs.empty()) << ui_.dialogs.front().text;
  if (GetParam().zero_length_packets) {
    EXPECT_GT(calculator.Counters().zero_length_packets, 2048u);
  }
}

INSTANTIATE_TEST_SUITE_P(Cables, UsbRamBackupTest,
                         ::testing::Values(RamCase{"FoundByIds", false, false}, RamCase{"NamedNode", true, false},
                                           RamCase{"ZeroLengthPackets", false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UsbBackupTest, CalculatorUnpluggedDuringTheReadOutEndsTheBackupAsIncomplete) {
  fxsim::UsbCalculatorConfig config = QuickUsbCalculator();
  config.faults.push_back(fxsim::FaultSpec::Parse("disconnect@block:50"));
  fxsim::UsbCalculator calculator(config);
  const std::string file = File("memory.RAM");

  const TRamBackupOutcome outcome = RunRamBackup(file, OPT_USB, ui_.Ui(), SearchTarget());

  EXPECT_FALSE(calculator.Plugged());
  EXPECT_FALSE(outcome.Succeeded());
  EXPECT_EQ(outcome.backup.result, 0);
  EXPECT_EQ(outcome.backup.bytes_written, 49u * 256);
  EXPECT_EQ(ReadFileBytes(file + ".partial"), Prefix(calculator.Ram(), 49 * 256));
  EXPECT_EQ(outcome.backup.cause.rfind("the link to the calculator was lost (unplugged, or the simulator ended)", 0), 0u)
      << outcome.backup.cause;
  EXPECT_EQ(ui_.BoxTexts(),
            std::vector<std::string>{IncompleteText(file + ".partial", 49 * 256, 0x80000, outcome.backup.cause)});
  EXPECT_TRUE(AnyContains(ui_.LogLines(), "stopped answering (LIBUSB_ERROR_NO_DEVICE)"));
}

TEST_F(UsbBackupTest, NoCalculatorOnTheBusEndsTheStartWithTheCablingAdvice) {
  fxsim::UsbCalculator calculator(QuickUsbCalculator());
  calculator.Unplug();

  const std::optional<std::string> text = ReadDeviceInformation(OPT_USB, ui_.Ui(), SearchTarget());

  EXPECT_FALSE(text.has_value());
  EXPECT_TRUE(ui_.HasLogLine("USB communication failed: check USB-driver or cabling."));
  EXPECT_TRUE(AnyContains(ui_.LogLines(), "USB search: no device 07CF:6101 is connected."));
  EXPECT_EQ(StopRequest(), stopNone) << "a failure with its cause, not a stop";
}

}  // namespace
}  // namespace ostrel::testing

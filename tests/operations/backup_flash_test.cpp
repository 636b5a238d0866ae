// Complete flash and RAM backups against the calculator simulator, and the check of a
// written flash image.

#include <gtest/gtest.h>

#include "backup_fixture.h"
#include "fxsim/models.h"
#include "operations/backup.h"
#include "env/options.h"

namespace ostrel::testing {
namespace {

enum class Link { Usb, Serial };

TLinkTarget TargetFor(Link link, fxsim::Simulator& sim) {
  return link == Link::Usb ? UsbTarget(sim) : SerialTarget(sim);
}

TOptionWord CableBit(Link link) { return link == Link::Usb ? OPT_USB : OPT_3PIN; }

struct FlashCase {
  const char* name;
  Link link;
  TOptionWord extra_options;
  std::uint32_t expected_size;
};

// The case as gtest shows it (test lists, failures).
void PrintTo(const FlashCase& c, std::ostream* os) { *os << c.name; }

class FlashBackupTest : public BackupTest, public ::testing::WithParamInterface<FlashCase> {};

TEST_P(FlashBackupTest, CopiesTheFlashAndVerifiesIt) {
  const FlashCase& c = GetParam();
  fxsim::Simulator sim(ValidCalculator());
  const TLinkTarget target = TargetFor(c.link, sim);
  const std::string file = File("flash.bin");

  const TFlashBackupOutcome outcome = RunFlashBackup(file, CableBit(c.link) | c.extra_options, ui_.Ui(), target);

  EXPECT_EQ(outcome.backup.result, 1);
  EXPECT_TRUE(outcome.backup.Complete());
  ASSERT_TRUE(outcome.check.has_value());
  EXPECT_EQ(*outcome.check, icrOK);
  EXPECT_TRUE(outcome.Succeeded());
  EXPECT_EQ(outcome.backup.bytes_written, c.expected_size);
  EXPECT_EQ(ReadFileBytes(file), Prefix(sim.Flash(), c.expected_size));
  EXPECT_TRUE(ui_.dialogs.empty()) << ui_.dialogs.front().text;

  EXPECT_EQ(ui_.Texts(nfStatus).front(), "Backing up the flash...");
  EXPECT_EQ(ui_.Values(nfSessionActive), (std::vector<std::int64_t>{1, 0}));
  const auto calc_data = ui_.Texts(nfCalcData);
  ASSERT_EQ(calc_data.size(), 1u);
  EXPECT_EQ(calc_data[0].rfind("HardwareIdentifier: Gy363006\r\nProcessorIdentifier: RENESAS SH735501\r\n", 0), 0u);

  const auto lines = ui_.LogLines();
  const long speed = LineIndex(lines, "Transfer-speed: ");
  ASSERT_GE(speed, 0);
  EXPECT_EQ(LineIndex(lines, "Transfer-speed: ", true), speed) << "more than one speed line";
  EXPECT_GT(speed, LineIndex(lines, "Received ", true));
  EXPECT_LT(speed, LineIndex(lines, "Backup: " + file));
  EXPECT_EQ(CountOf(lines, "Backup: " + file), 1);
  EXPECT_EQ(lines[static_cast<std::size_t>(speed)].size(), std::string("Transfer-speed: ").size() + 10 + 10);

  if (c.link == Link::Serial) {
    // The session raised the line to 115200 baud and lowered it again at the end.
    bool raised = false;
    for (const auto& p : sim.ReceivedPackets()) {
      const std::string data(p.data.begin(), p.data.end());
      if (p.subtype == "02" && data.find("115200") != std::string::npos) raised = true;
    }
    EXPECT_TRUE(raised);
    EXPECT_EQ(sim.CurrentBaud(), 9600);
  }
}

INSTANTIATE_TEST_SUITE_P(Links, FlashBackupTest,
                         ::testing::Values(FlashCase{"UsbSmall", Link::Usb, 0, 0x270000},
                                           FlashCase{"UsbWithStorageMemory", Link::Usb, OPT_INCLUDE_SMEM, 0x400000},
                                           FlashCase{"SerialSmall", Link::Serial, 0, 0x270000}),
                         [](const auto& info) { return std::string(info.param.name); });

struct RamCase {
  const char* name;
  Link link;
};

// The case as gtest shows it (test lists, failures).
void PrintTo(const RamCase& c, std::ostream* os) { *os << c.name; }

class RamBackupTest : public BackupTest, public ::testing::WithParamInterface<RamCase> {};

TEST_P(RamBackupTest, CopiesTheRamAndLeavesItAsReceived) {
  fxsim::Simulator sim({});
  const TLinkTarget target = TargetFor(GetParam().link, sim);
  const std::string file = File("memory.RAM");

  // The ID option never touches a RAM image.
  const TRamBackupOutcome outcome = RunRamBackup(file, CableBit(GetParam().link) | OPT_IGNORE_ID, ui_.Ui(), target);

  EXPECT_NE(outcome.backup.result, 0);
  EXPECT_TRUE(outcome.Succeeded());
  EXPECT_EQ(ReadFileBytes(file), sim.Ram());
  EXPECT_TRUE(ui_.dialogs.empty());
  EXPECT_TRUE(ui_.Values(nfSessionActive).empty());
  EXPECT_TRUE(ui_.Texts(nfCalcData).empty());
  EXPECT_EQ(ui_.Texts(nfStatus).front(), "Backing up the RAM...");
  const auto lines = ui_.LogLines();
  EXPECT_EQ(LineIndex(lines, "FXCheckImage"), -1) << "a RAM image is never checked";
  const long speed = LineIndex(lines, "Transfer-speed: ");
  ASSERT_GE(speed, 0);
  EXPECT_EQ(LineIndex(lines, "Transfer-speed: ", true), speed);
  EXPECT_GT(speed, LineIndex(lines, "Received ", true));
  EXPECT_LT(speed, LineIndex(lines, "Backup: " + file));
}

INSTANTIATE_TEST_SUITE_P(Links, RamBackupTest,
                         ::testing::Values(RamCase{"Usb", Link::Usb}, RamCase{"Serial", Link::Serial}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(BackupTest, ExtraBlocksAreCutAndTheTransferTerminated) {
  fxsim::SimConfig config;
  config.flash = Prefix(ValidFlash(), 0x270000);
  config.faults.push_back(fxsim::FaultSpec::Parse("extra-blocks:3"));
  fxsim::Simulator sim(config);
  const std::string file = File("flash.bin");

  const TFlashBackupOutcome outcome = RunFlashBackup(file, OPT_USB, ui_.Ui(), UsbTarget(sim));

  EXPECT_TRUE(outcome.Succeeded());
  EXPECT_EQ(ReadFileBytes(file), sim.Flash());
  const auto packets = sim.ReceivedPackets();
  int acknowledges = 0;
  bool terminated = false;
  for (const auto& p : packets) {
    if (p.type == kTypeAck) ++acknowledges;
    if (p.type == kTypeTerminate) terminated = true;
  }
  EXPECT_TRUE(terminated);
  EXPECT_EQ(acknowledges, 0x270000 / 256) << "no block past the image end was asked for";
  EXPECT_EQ(sim.GetCounters().blocks_sent, 0x270000u / 256);
}

TEST_F(BackupTest, IgnoreIdBlanksOnlyTheCalculatorId) {
  fxsim::Simulator sim(ValidCalculator());
  const TLinkTarget target = UsbTarget(sim);
  const std::string plain = File("plain.bin");
  const std::string blanked = File("blanked.bin");

  ASSERT_TRUE(RunFlashBackup(plain, OPT_USB, ui_.Ui(), target).Succeeded());
  ASSERT_TRUE(RunFlashBackup(blanked, OPT_USB | OPT_IGNORE_ID, ui_.Ui(), target).Succeeded());

  const Bytes a = ReadFileBytes(plain);
  const Bytes b = ReadFileBytes(blanked);
  ASSERT_EQ(a.size(), 0x270000u);
  ASSERT_EQ(b.size(), a.size());
  EXPECT_EQ(a, Prefix(sim.Flash(), 0x270000));
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (i >= 0xFFD0 && i < 0xFFD8) {
      EXPECT_EQ(b[i], 0xFF) << "offset " << i;
      EXPECT_NE(a[i], 0xFF) << "offset " << i;
    } else if (a[i] != b[i]) {
      ADD_FAILURE() << "byte at " << i << " changed";
      break;
    }
  }
}

struct VerificationCase {
  const char* name;
  TestImageSpec spec;
  bool write_file;
  ImageCheckResult result;
  std::string message;  // "FILE" stands for the file name
};

// The case as gtest shows it (test lists, failures).
void PrintTo(const VerificationCase& c, std::ostream* os) { *os << c.name; }

TestImageSpec Spec(void (*change)(TestImageSpec&)) {
  TestImageSpec spec;
  change(spec);
  return spec;
}

class VerificationTest : public BackupTest, public ::testing::WithParamInterface<VerificationCase> {};

TEST_P(VerificationTest, ReportsAFaultyImageInAnErrorBox) {
  const VerificationCase& c = GetParam();
  const std::string file = File("image.bin");
  if (c.write_file) WriteTestImage(c.spec, file);

  EXPECT_EQ(VerifyFlashBackup(file, OPT_USB, ui_.Ui()), c.result);

  std::string expected = c.message;
  if (const auto at = expected.find("FILE"); at != std::string::npos) expected.replace(at, 4, file);
  if (c.result == icrOK) {
    EXPECT_TRUE(ui_.dialogs.empty());
    return;
  }
  ASSERT_FALSE(ui_.dialogs.empty());
  EXPECT_EQ(ui_.dialogs.back().text, expected);
  EXPECT_EQ(ui_.dialogs.back().kind, DialogKind::Error);
  EXPECT_EQ(ui_.Texts(nfStatus).back(), "Idle...");
}

INSTANTIATE_TEST_SUITE_P(
    Results, VerificationTest,
    ::testing::Values(
        VerificationCase{"Valid", {}, true, icrOK, ""},
        VerificationCase{"UnknownOsVersion", Spec([](TestImageSpec& s) { s.os_version = "09.99.9999"; s.layout_class = 1; }),
                         true, icrOsVersionError, "OS-version of the written image NOT OK!"},
        VerificationCase{"ShortFile", Spec([](TestImageSpec& s) { s.size = 0x260000; }), true, icrFileSizeError,
                         "Filesize of the written image NOT OK!"},
        VerificationCase{"WrongChecksum", Spec([](TestImageSpec& s) { s.correct_checksum = false; }), true,
                         icrChecksumError, "Checksum of the written image NOT OK!"},
        VerificationCase{"NoSignature", Spec([](TestImageSpec& s) { s.signature = false; }), true, icrCasioWinError,
                         "\"CASIOWIN\" missing at 0x10000!"},
        VerificationCase{"MissingFile", {}, false, icrFileDoesNotExist, "File\r\n  FILE\r\ndoes not exist!"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ostrel::testing

namespace ostrel::testing {
namespace {

// A calculator whose flash holds an image that fails the check, backed up onto a path
// with or without an older file.
class UnverifiedImageTest : public BackupTest, public ::testing::WithParamInterface<bool> {};

TEST_P(UnverifiedImageTest, NeverReplacesAnOlderFile) {
  const bool older_file = GetParam();
  TestImageSpec spec;
  spec.size = 0x400000;
  spec.correct_checksum = false;
  fxsim::SimConfig config;
  config.flash = GenerateTestImage(spec);
  fxsim::Simulator sim(config);
  const std::string file = File("flash.bin");
  const Bytes older = {'o', 'l', 'd', '\n'};
  if (older_file) WriteImageFile(older, file);

  const TFlashBackupOutcome outcome = RunFlashBackup(file, OPT_USB, ui_.Ui(), UsbTarget(sim));

  EXPECT_FALSE(outcome.Succeeded());
  EXPECT_TRUE(outcome.backup.Complete());
  ASSERT_TRUE(outcome.check.has_value());
  EXPECT_EQ(*outcome.check, icrChecksumError);
  EXPECT_EQ(outcome.check_report.result, icrChecksumError);
  const std::string image_file = older_file ? file + ".unverified" : file;
  EXPECT_EQ(outcome.backup.file, image_file);
  EXPECT_EQ(outcome.backup.kept_beside, older_file);
  EXPECT_EQ(ReadFileBytes(image_file), Prefix(sim.Flash(), 0x270000));
  if (older_file) {
    EXPECT_EQ(ReadFileBytes(file), older);
  }
  std::string box = "Checksum of the written image NOT OK!";
  if (older_file) box += "\r\nThe image was saved as " + image_file + ";\r\n" + file + " was left as it was.";
  EXPECT_EQ(ui_.BoxTexts(), std::vector<std::string>{box});
  EXPECT_TRUE(ui_.HasLogLine("Backup: " + image_file));
}

INSTANTIATE_TEST_SUITE_P(Target, UnverifiedImageTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "OlderFileThere" : "NoFileThere"; });

// A unit with a 2 MiB flash: its image is its whole flash, with or without the storage
// memory asked for, and it checks as an image of its OS class.
class SmallFlashBackupTest : public BackupTest, public ::testing::WithParamInterface<TOptionWord> {};

TEST_P(SmallFlashBackupTest, ReadsTheWholeFlashOfAnFx7400GII) {
  fxsim::SimConfig config = fxsim::ConfigFor(fxsim::CalculatorModelNamed("fx-7400GII"));
  TestImageSpec spec;
  spec.layout_class = 3;
  config.flash = GenerateTestImage(spec);
  ASSERT_EQ(config.flash.size(), 0x200000u);
  fxsim::Simulator sim(config);
  const std::string file = File("flash.bin");

  const TFlashBackupOutcome outcome = RunFlashBackup(file, OPT_3PIN | GetParam(), ui_.Ui(), SerialTarget(sim));

  EXPECT_TRUE(outcome.Succeeded()) << outcome.backup.cause;
  EXPECT_EQ(outcome.backup.image_size, 0x200000u);
  EXPECT_EQ(ReadFileBytes(file), sim.Flash());
  EXPECT_TRUE(ui_.dialogs.empty()) << ui_.dialogs.front().text;
}

INSTANTIATE_TEST_SUITE_P(Options, SmallFlashBackupTest, ::testing::Values(TOptionWord{0}, TOptionWord{OPT_INCLUDE_SMEM}),
                         [](const auto& info) { return info.param ? "WithStorageMemory" : "Plain"; });

}  // namespace
}  // namespace ostrel::testing

#include "simulation/simulated_flash.h"

namespace ostrel::testing {
namespace {

// What a newcomer meets first: a simulated unit of any model, with the flash it has by
// default, is backed up over its own cable into an image that passes the check.
class SimulatedModelBackupTest : public BackupTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(SimulatedModelBackupTest, TheDefaultFlashIsBackedUpAndVerified) {
  const fxsim::CalculatorModel& model = fxsim::CalculatorModelNamed(GetParam());
  fxsim::SimConfig config = fxsim::ConfigFor(model);
  config.flash = SimulatedFlashOf(model);
  ASSERT_EQ(config.flash.size(), model.flash_size);
  fxsim::Simulator sim(config);
  const std::string file = File("flash.bin");

  const TFlashBackupOutcome outcome = model.usb ? RunFlashBackup(file, OPT_USB, ui_.Ui(), UsbTarget(sim))
                                                : RunFlashBackup(file, OPT_3PIN, ui_.Ui(), SerialTarget(sim));

  EXPECT_TRUE(outcome.Succeeded()) << outcome.backup.cause << ImageCheckResultName(outcome.check.value_or(icrUnknown));
  EXPECT_EQ(ReadFileBytes(file), Prefix(sim.Flash(), std::min<std::size_t>(model.flash_size, 0x270000)));
  // The device information names the OS the flash holds.
  const auto calc_data = ui_.Texts(nfCalcData);
  ASSERT_EQ(calc_data.size(), 1u);
  const std::string version(reinterpret_cast<const char*>(&sim.Flash()[0x10020]), 10);
  EXPECT_NE(calc_data[0].find("OScodeversion: " + version + "\r\n"), std::string::npos) << calc_data[0];
}

INSTANTIATE_TEST_SUITE_P(Models, SimulatedModelBackupTest,
                         ::testing::Values("fx-9860GII", "fx-9860G", "fx-7400GII", "fx-9860GII-2", "fx-9750GII-2"),
                         [](const auto& info) {
                           std::string name;
                           for (char c : info.param) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

}  // namespace
}  // namespace ostrel::testing

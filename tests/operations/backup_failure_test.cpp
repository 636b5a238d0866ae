// Backups that do not deliver a whole image: stopped, refused, broken off, declined, or
// without a cable; and the stop report at the end of an operation.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>

#include "backup_fixture.h"
#include "base/error.h"
#include "operations/backup.h"
#include "operations/finish_operation.h"
#include "env/options.h"

namespace ostrel::testing {
namespace {

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0);
  return st.st_mode & 07777;
}

bool SentPacketOfType(const fxsim::Simulator& sim, std::uint8_t type) {
  for (const auto& p : sim.ReceivedPackets()) {
    if (p.type == type) return true;
  }
  return false;
}

TEST_F(BackupTest, CancelledFlashBackupKeepsThePartialFileAndFails) {
  fxsim::Simulator sim(ValidCalculator());
  const TLinkTarget target = UsbTarget(sim);
  const std::string file = File("flash.bin");
  CancelAfter(3000);

  const TFlashBackupOutcome outcome = RunFlashBackup(file, OPT_USB, ui_.Ui(), target);

  // The read-out loop ran to its end, yet the image is short: reported, kept beside the
  // target under its own name, and not a backup.
  EXPECT_EQ(outcome.backup.result, 1);
  EXPECT_FALSE(outcome.backup.Complete());
  EXPECT_FALSE(outcome.Succeeded());
  const std::string partial = file + ".partial";
  EXPECT_EQ(outcome.backup.file, partial);
  EXPECT_FALSE(std::filesystem::exists(file));
  const Bytes written = ReadFileBytes(partial);
  EXPECT_GT(written.size(), 0u);
  EXPECT_LT(written.size(), 0x270000u);
  EXPECT_EQ(written.size(), outcome.backup.bytes_written);
  EXPECT_EQ(written, Prefix(sim.Flash(), written.size()));
  EXPECT_FALSE(SentPacketOfType(sim, kTypeTerminate));
  EXPECT_TRUE(ui_.HasLogLine("Backup: " + partial));

  const auto boxes = ui_.BoxTexts();
  EXPECT_EQ(CountOf(boxes, IncompleteText(partial, written.size(), 0x270000)), 1);
  ASSERT_TRUE(outcome.check.has_value());
  EXPECT_EQ(*outcome.check, icrFileSizeError);
  EXPECT_EQ(CountOf(boxes, "Filesize of the written image NOT OK!"), 1);
  // Stopped in the middle of the blocks: the calculator may still be in its transfer, so
  // the session flag stays set for the stop report.
  EXPECT_EQ(ui_.Values(nfSessionActive), (std::vector<std::int64_t>{1}));

  // The front end's final step reports the stop, with the reset advice, and clears it.
  ui_.on_process_messages = nullptr;
  EXPECT_EQ(FinishOperation(ui_.Ui(), true), stopByUser);
  EXPECT_EQ(ui_.LogLines().back(), "Manually cancelled!\r\nYou should reset your calculator!\r\nUse the RESTART- or P-button.");
  EXPECT_EQ(ui_.dialogs.back().text, "Manually cancelled!\r\nYou should reset your calculator!\r\nUse the RESTART- or P-button.");
  EXPECT_EQ(ui_.dialogs.back().kind, DialogKind::Warning);
  EXPECT_EQ(StopRequest().load(), stopNone);
}

TEST_F(BackupTest, FinishOperationNamesEveryStopReason) {
  const struct {
    std::uint8_t reason;
    const char* text;
  } cases[] = {{stopByUser, "Manually cancelled!"}, {stopByLink, "Automatically cancelled!"}, {7, "Unknown cancel reason!"}};
  for (const auto& c : cases) {
    RecordingUi ui;
    StopRequest() = c.reason;
    EXPECT_EQ(FinishOperation(ui.Ui()), c.reason);
    EXPECT_EQ(ui.LogLines(), std::vector<std::string>{c.text});
    ASSERT_EQ(ui.dialogs.size(), 1u);
    EXPECT_EQ(ui.dialogs[0].text, c.text);
    EXPECT_EQ(StopRequest().load(), stopNone);
  }
  RecordingUi quiet;
  EXPECT_EQ(FinishOperation(quiet.Ui()), stopNone);
  EXPECT_TRUE(quiet.notifications.empty());
  EXPECT_TRUE(quiet.dialogs.empty());
}

TEST_F(BackupTest, CancelBeforeTheIdFieldArrivedLeavesTheShortFileAsItIs) {
  fxsim::Simulator sim(ValidCalculator());
  const TLinkTarget target = UsbTarget(sim);
  const std::string file = File("flash.bin");
  CancelAfter(60);  // a few blocks into the read-out, far before offset 0xFFD0

  const TFlashBackupOutcome outcome = RunFlashBackup(file, OPT_USB | OPT_IGNORE_ID, ui_.Ui(), target);

  const Bytes written = ReadFileBytes(file + ".partial");
  ASSERT_GT(written.size(), 0u);
  ASSERT_LT(written.size(), 0xFFD0u);
  EXPECT_EQ(written, Prefix(sim.Flash(), written.size()));
  EXPECT_FALSE(outcome.Succeeded());
  EXPECT_EQ(CountOf(ui_.BoxTexts(), IncompleteText(file + ".partial", written.size(), 0x270000)), 1);
}

TEST_F(BackupTest, RefusedRequestIsReportedWithoutVerification) {
  fxsim::SimConfig config = ValidCalculator();
  config.faults.push_back(fxsim::FaultSpec::Parse("error:04@request"));
  fxsim::Simulator sim(config);
  const std::string file = File("flash.bin");

  const TFlashBackupOutcome outcome = RunFlashBackup(file, OPT_USB | OPT_IGNORE_ID, ui_.Ui(), UsbTarget(sim));

  EXPECT_EQ(outcome.backup.result, 0);
  EXPECT_FALSE(outcome.check.has_value());
  EXPECT_FALSE(outcome.Succeeded());
  const auto boxes = ui_.BoxTexts();
  EXPECT_EQ(CountOf(boxes, "Error 04: Overwrite impossible/requested file does not exist\r\n"
                           "Backup is supported by Link/receive-mode only!"),
            1);
  EXPECT_EQ(CountOf(boxes, IncompleteText("", 0, 0x270000,
                                          "the calculator answered the flash read-out request with error 04 "
                                          "(Overwrite impossible/requested file does not exist)")),
            1);
  EXPECT_EQ(boxes.size(), 2u) << "no verification message";
  EXPECT_EQ(LineIndex(ui_.LogLines(), "FXCheckImage"), -1);
  EXPECT_EQ(LineIndex(ui_.LogLines(), "Transfer-speed: "), -1);
  EXPECT_FALSE(std::filesystem::exists(file)) << "nothing read, nothing written";
  EXPECT_FALSE(std::filesystem::exists(file + ".partial"));
  EXPECT_TRUE(std::filesystem::is_empty(folder_.Path()));
  EXPECT_EQ(ui_.Values(nfSessionActive), (std::vector<std::int64_t>{1, 0}));
}

struct BrokenLinkCase {
  const char* name;
  const char* fault;
  bool flash;
  std::uint64_t held;  // bytes of the blocks before the fault
  const char* cause;   // the start of the cause the box gives
};

// The case as gtest shows it (test lists, failures).
void PrintTo(const BrokenLinkCase& c, std::ostream* os) { *os << c.name; }

class BrokenLinkTest : public BackupTest, public ::testing::WithParamInterface<BrokenLinkCase> {};

TEST_P(BrokenLinkTest, BackupEndsWithTheIncompleteMessage) {
  const BrokenLinkCase& c = GetParam();
  fxsim::SimConfig config = ValidCalculator();
  config.faults.push_back(fxsim::FaultSpec::Parse(c.fault));
  fxsim::Simulator sim(config);
  const std::string file = File(c.flash ? "flash.bin" : "memory.RAM");
  WriteImageFile(Bytes{'o', 'l', 'd'}, file);
  const std::uint64_t expected = c.flash ? 0x270000 : 0x80000;

  TBackupDetails backup;
  if (c.flash) {
    const TFlashBackupOutcome outcome = RunFlashBackup(file, OPT_USB, ui_.Ui(), UsbTarget(sim));
    EXPECT_FALSE(outcome.check.has_value());
    EXPECT_FALSE(outcome.Succeeded());
    backup = outcome.backup;
  } else {
    const TRamBackupOutcome outcome = RunRamBackup(file, OPT_USB, ui_.Ui(), UsbTarget(sim));
    EXPECT_FALSE(outcome.Succeeded());
    backup = outcome.backup;
  }

  EXPECT_EQ(backup.result, 0);
  EXPECT_EQ(backup.bytes_written, c.held);
  EXPECT_EQ(backup.cause.rfind(c.cause, 0), 0u) << backup.cause;
  const Bytes source = c.flash ? sim.Flash() : sim.Ram();
  EXPECT_EQ(ReadFileBytes(file + ".partial"), Prefix(source, c.held));
  EXPECT_EQ(ReadFileBytes(file), Bytes({'o', 'l', 'd'})) << "the older backup is kept";
  // The box that ends it (a packet of another kind gets the box that names it first).
  const auto boxes = ui_.BoxTexts();
  ASSERT_FALSE(boxes.empty());
  EXPECT_EQ(boxes.back(), IncompleteText(file + ".partial", c.held, expected, backup.cause, file));
  EXPECT_LE(boxes.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, BrokenLinkTest,
    ::testing::Values(
        BrokenLinkCase{"FlashStall", "stall@block:40", true, 39 * 256,
                       "no answer from the calculator within 1500 ms to an acknowledge (after block 39 of 16384)"},
        BrokenLinkCase{"FlashDisconnect", "disconnect@block:20", true, 19 * 256,
                       "the link to the calculator was lost (unplugged, or the simulator ended)"},
        BrokenLinkCase{"RamStall", "stall@block:7", false, 6 * 256,
                       "no answer from the calculator within 1500 ms to an acknowledge (after block 6 of 2048)"},
        BrokenLinkCase{"RamDamagedBlock", "bad-checksum@block:9", false, 8 * 256,
                       "a damaged packet arrived in answer to an acknowledge (checksum error) (after block 8"},
        BrokenLinkCase{"FlashErrorAnswer", "error:01@block:3", true, 2 * 256,
                       "the calculator answered an acknowledge with error 01 (Resend request) (after block 2"},
        BrokenLinkCase{"RepeatedBlock", "repeat-block@block:5", true, 5 * 256,
                       "the calculator sent block 5 twice"},
        BrokenLinkCase{"SwappedBlocks", "swap-blocks@block:5", false, 4 * 256,
                       "the calculator sent block 6 where block 5 was expected"},
        BrokenLinkCase{"ForeignPacket", "foreign-packet@block:5", true, 4 * 256,
                       "the calculator sent <06>021 where data block 5 (<02>501) was expected"},
        // Answers that do not belong to their request: never stored, never shifting the rest.
        BrokenLinkCase{"BlockSentTwice", "double@block:6", false, 6 * 256,
                       "the calculator sent <02>301"},
        BrokenLinkCase{"AcknowledgeWhereABlockIsDue", "ack-instead@block:4", true, 3 * 256,
                       "the calculator sent <06>000 where data block 4 (<02>501) was expected"},
        BrokenLinkCase{"StaleAcknowledgeBeforeABlock", "stale-ack@block:4", false, 3 * 256,
                       "the calculator sent <06>000 where data block 4 (<02>301) was expected"},
        BrokenLinkCase{"MalformedEscape", "bad-escape@block:3", false, 2 * 256,
                       "the calculator sent block 3 of 2048 with an escape no sender makes at byte 0 of its data "
                       "(\\<7F>): the block is damaged"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BackupTest, CompleteBackupReplacesTheOlderFileAndLeavesNothingElse) {
  fxsim::Simulator sim(ValidCalculator());
  const std::string file = File("memory.RAM");
  WriteImageFile(Bytes{'o', 'l', 'd'}, file);

  const TRamBackupOutcome outcome = RunRamBackup(file, OPT_USB, ui_.Ui(), UsbTarget(sim));

  EXPECT_TRUE(outcome.Succeeded());
  EXPECT_EQ(outcome.backup.file, file);
  EXPECT_EQ(ReadFileBytes(file), sim.Ram());
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder_.Path())) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{"memory.RAM"}) << "no work or partial file is left";
}

// A file size limit fails writes the way a full disk does, also for root.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    previous_handler_ = ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::signal(SIGXFSZ, previous_handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  sighandler_t previous_handler_;
};

TEST_F(BackupTest, FullDiskEndsTheBackupWithItsCauseAndKeepsTheOlderFile) {
  fxsim::Simulator sim(ValidCalculator());
  const TLinkTarget target = UsbTarget(sim);
  const std::string file = File("memory.RAM");
  WriteImageFile(Bytes{'o', 'l', 'd'}, file);

  std::string text;
  {
    const FileSizeLimit limit(64 * 1024);
    try {
      RunRamBackup(file, OPT_USB, ui_.Ui(), target);
      ADD_FAILURE() << "a failed write passed";
    } catch (const IoError& e) {
      text = e.Text();
    }
  }
  EXPECT_EQ(text, "Cannot write file " + file + ": File too large; the bytes read are in " + file + ".partial");
  EXPECT_EQ(ReadFileBytes(file), Bytes({'o', 'l', 'd'}));
  const Bytes partial = ReadFileBytes(file + ".partial");
  EXPECT_LE(partial.size(), 64u * 1024);
  EXPECT_EQ(partial, Prefix(sim.Ram(), partial.size()));
  EXPECT_EQ(ui_.Values(nfSessionActive), std::vector<std::int64_t>{}) << "the RAM backup posts no session flag";
  EXPECT_EQ(sim.ReceivedPackets().back().type, kTypeAck) << "the session was not ended by a terminate";
}

struct ReadOnlyCase {
  const char* name;
  DialogResult answer;
};

// The case as gtest shows it (test lists, failures).
void PrintTo(const ReadOnlyCase& c, std::ostream* os) { *os << c.name; }

class ReadOnlyTargetTest : public BackupTest, public ::testing::WithParamInterface<ReadOnlyCase> {};

TEST_P(ReadOnlyTargetTest, AsksBeforeOverwriting) {
  fxsim::Simulator sim(ValidCalculator());
  const TLinkTarget target = UsbTarget(sim);
  const std::string file = File("kept.bin");
  const Bytes original = {'o', 'l', 'd'};
  WriteImageFile(original, file);
  ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
  ui_.answers.push_back(GetParam().answer);

  const TFlashBackupOutcome outcome = RunFlashBackup(file, OPT_USB, ui_.Ui(), target);

  ASSERT_FALSE(ui_.dialogs.empty());
  EXPECT_EQ(ui_.dialogs[0].text, "File: " + file + "\r\nis readonly!\r\nUnlock?");
  EXPECT_EQ(ui_.dialogs[0].kind, DialogKind::Warning);
  EXPECT_EQ(ui_.dialogs[0].buttons, DialogButtons::YesNo);
  if (GetParam().answer == mrYes) {
    EXPECT_TRUE(outcome.Succeeded());
    EXPECT_EQ(ReadFileBytes(file), Prefix(sim.Flash(), 0x270000));
    EXPECT_EQ(ModeOf(file), 0644u);
    EXPECT_EQ(ui_.dialogs.size(), 1u);
  } else {
    EXPECT_EQ(outcome.backup.result, 0);
    EXPECT_EQ(outcome.backup.stage, BackupStage::Declined);
    EXPECT_TRUE(sim.ReceivedPackets().empty()) << "no link may be opened";
    EXPECT_EQ(sim.GetCounters().connections, 0u);
    EXPECT_EQ(ReadFileBytes(file), original);
    EXPECT_EQ(ModeOf(file), 0444u);
    EXPECT_EQ(ui_.dialogs.size(), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(Answers, ReadOnlyTargetTest,
                         ::testing::Values(ReadOnlyCase{"Declined", mrNo}, ReadOnlyCase{"Accepted", mrYes}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(BackupTest, BothCableBitsChooseTheSerialLink) {
  fxsim::SimConfig config;
  fxsim::Simulator sim(config);
  TLinkTarget target = SerialTarget(sim);
  target.usb_device = sim.StartUsb();
  const std::string file = File("ram.RAM");

  RunRamBackup(file, OPT_USB | OPT_3PIN, ui_.Ui(), target);

  const auto packets = sim.ReceivedPackets();
  ASSERT_FALSE(packets.empty());
  for (const auto& p : packets) EXPECT_EQ(p.endpoint, fxsim::Endpoint::kSerial);
  EXPECT_EQ(sim.GetCounters().connections, 0u);
  EXPECT_EQ(ReadFileBytes(file), sim.Ram());
}

TEST_F(BackupTest, NoCableBitIsACableError) {
  fxsim::Simulator sim({});
  const TLinkTarget target = UsbTarget(sim);
  const std::string file = File("flash.bin");
  for (bool flash : {true, false}) {
    try {
      if (flash) {
        BackupFlash(file, OPT_INCLUDE_SMEM, ui_.Ui(), target);
      } else {
        BackupRAM(file, 0, ui_.Ui(), target);
      }
      ADD_FAILURE() << "no error raised";
    } catch (const Error& e) {
      EXPECT_EQ(e.Text(), "Cable error");
    }
  }
  EXPECT_TRUE(sim.ReceivedPackets().empty());
  EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(BackupTest, FileErrorLeavesAfterTheSessionHasEnded) {
  fxsim::Simulator sim(ValidCalculator());
  const TLinkTarget target = SerialTarget(sim);
  const std::string file = File("no-such-folder/flash.bin");

  EXPECT_THROW(BackupFlash(file, OPT_3PIN, ui_.Ui(), target), IoError);

  // The session was ended before the error went on: the line is back at 9600 baud.
  EXPECT_EQ(ui_.Values(nfSessionActive), (std::vector<std::int64_t>{1, 0}));
  EXPECT_EQ(sim.CurrentBaud(), 9600);
  const auto packets = sim.ReceivedPackets();
  ASSERT_FALSE(packets.empty());
  const std::string last(packets.back().data.begin(), packets.back().data.end());
  EXPECT_EQ(packets.back().subtype, "02");
  EXPECT_NE(last.find("9600"), std::string::npos);
}

TEST_F(BackupTest, StopWhileWaitingForTheCalculatorEndsWithoutABackup) {
  fxsim::SimConfig config;
  config.receive_mode_delay_ms = -1;  // never in receive mode: the USB endpoint refuses
  fxsim::Simulator sim(config);
  const std::string file = File("flash.bin");
  CancelAfter(20);

  const TFlashBackupOutcome outcome = RunFlashBackup(file, OPT_USB, ui_.Ui(), UsbTarget(sim));

  EXPECT_EQ(outcome.backup.result, 0);
  EXPECT_EQ(outcome.backup.stage, BackupStage::NotConnected);
  EXPECT_FALSE(outcome.check.has_value());
  EXPECT_TRUE(ui_.dialogs.empty()) << "the stop is reported by the front end, not here";
  EXPECT_EQ(ui_.Values(nfSessionActive), (std::vector<std::int64_t>{0}));
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_EQ(StopRequest().load(), stopByUser);
}

}  // namespace
}  // namespace ostrel::testing

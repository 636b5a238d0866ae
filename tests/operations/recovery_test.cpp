// OS recovery and upload-and-run against the simulated calculator, which plays the
// uploaded recovery program on a NOR flash of 64 KiB sectors.
//
// Every run checks the invariants: sector 0 is never erased or written; a run that did not
// complete leaves the block at 0xA0010000 unwritten; nothing is written into a sector that
// was not erased; the link ends closed.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>

#include "backup_fixture.h"
#include "fxsim/models.h"
#include "base/big_endian.h"
#include "base/error.h"
#include "env/app_env.h"
#include "env/ini_file.h"
#include "operations/os_recovery.h"
#include "protocol/packet_codec.h"
#include "protocol/program_file.h"
#include "support/test_files.h"

namespace ostrel::testing {
namespace {

constexpr std::size_t kSector = 0x10000;

// The calculator's flash before the recovery: another valid image, so a rewrite shows.
Bytes OldFlash(std::uint16_t bios_type, std::size_t flash_size) {
  TestImageSpec spec;
  spec.seed = 99;
  spec.size = static_cast<std::uint32_t>(flash_size);
  if (bios_type == 5) spec.bios_row = 10, spec.layout_class = 3;
  Bytes flash = GenerateTestImage(spec);
  flash.resize(flash_size, 0xA5);
  return flash;
}

struct Unit {
  std::uint16_t bios_type = 2;
  std::uint16_t caller_code = 0;
  std::function<void(fxsim::SimConfig&)> adjust;
  std::string model{};  // a model of the simulator instead of the two numbers above
};

struct RecoveryRun {
  TRecoveryOutcome outcome;
  bool raised = false;
  std::string error;
  Bytes before;
  Bytes after;
  fxsim::UnitStatus status;
  std::vector<fxsim::Packet> packets;
};

class RecoveryTest : public BackupTest {
 protected:
  void SetUp() override {
    BackupTest::SetUp();
    previous_ini_ = AppEnv().PGetValue("IF");
    AppEnv().PSetValue("IF", File("settings.INI"));
    helper_ = File("helper.bin");
    WriteImageFile(GenerateTestProgram(), helper_);
  }
  void TearDown() override {
    AppEnv().PSetValue("IF", previous_ini_);
    BackupTest::TearDown();
  }

  void SetSetting(const std::string& section, const std::string& key, const std::string& value) {
    SettingsFile().WriteString(section, key, value);
  }

  // An image file for the recovery.
  std::string Image(const std::string& name, std::uint32_t size, std::uint16_t bios_type = 2,
                    const std::function<void(TestImageSpec&)>& adjust = {}) {
    TestImageSpec spec;
    spec.size = size;
    spec.seed = 5;
    if (bios_type == 5) {
      spec.bios_row = 10;
      spec.layout_class = 3;
    }
    if (adjust) adjust(spec);
    const std::string path = File(name);
    WriteTestImage(spec, path);
    return path;
  }

  RecoveryRun Recover(const std::string& image, TOptionWord options, const Unit& unit = {}, bool serial = false,
              std::string helper = "") {
    fxsim::SimConfig config;
    if (unit.model.empty()) {
      config.program.bios_type = unit.bios_type;
      config.program.caller_code = unit.caller_code;
    } else {
      config = fxsim::ConfigFor(fxsim::CalculatorModelNamed(unit.model));
    }
    config.flash = OldFlash(config.program.bios_type, config.flash_size);
    config.program.erase_ms = 1;
    config.program.write_ms = 1;
    config.program.restart_ms = 200;
    if (unit.adjust) unit.adjust(config);
    fxsim::Simulator sim(config);
    TRecoverySetup setup;
    setup.target = serial ? SerialTarget(sim) : UsbTarget(sim);
    setup.helper_program = helper.empty() ? helper_ : helper;
    RecoveryRun run;
    run.before = sim.Flash();
    try {
      run.outcome = RunOSRecovery(image, options | (serial ? OPT_3PIN : OPT_USB), ui_.Ui(), setup);
    } catch (const Error& e) {
      run.raised = true;
      run.error = e.Text();
    }
    run.after = sim.Flash();
    run.status = sim.Status();
    run.packets = sim.ReceivedPackets();
    sim.Stop();
    CheckInvariants(run);
    return run;
  }

  void CheckInvariants(const RecoveryRun& run) {
    EXPECT_FALSE(run.status.Sector0Touched());
    EXPECT_EQ(Prefix(run.after, kSector), Prefix(run.before, kSector));
    EXPECT_EQ(run.status.nor_violations, 0u);
    if (!run.outcome.flash_rewritten && !run.outcome.upload_and_run && run.status.sectors.size() > 1) {
      EXPECT_EQ(run.status.sectors[1].writes, 0) << "the OS header block is written only by a complete run";
    }
    if (!run.outcome.Succeeded()) {
      EXPECT_FALSE(run.raised ? false : run.outcome.reason.empty()) << "an early end says why";
    }
    // The session ended: the last session flag is 0, unless the flash was left partly
    // erased or written; then it stays 1, so that the stop report advises a reset.
    const auto flags = ui_.Values(nfSessionActive);
    if (!flags.empty() && (run.outcome.flash_rewritten || Erased(run) == 0)) {
      EXPECT_EQ(flags.back(), 0);
    } else if (!flags.empty()) {
      EXPECT_EQ(flags.back(), 1) << "the flash is left partly erased or written";
    }
  }

  // The flash addresses of the flash writes, in order.
  static std::vector<std::uint32_t> FlashWrites(const RecoveryRun& run) {
    std::vector<std::uint32_t> addresses;
    for (const auto& packet : run.packets) {
      if (packet.type != kTypeCommand || packet.subtype != "71") continue;
      const Bytes data = UnescapeData(packet.data);
      addresses.push_back(ReadBigEndianWord(data.data()));
    }
    return addresses;
  }
  static int Count(const RecoveryRun& run, const std::string& subtype) {
    return static_cast<int>(std::count_if(run.packets.begin(), run.packets.end(), [&](const fxsim::Packet& p) {
      return p.type == kTypeCommand && p.subtype == subtype;
    }));
  }
  static int Erased(const RecoveryRun& run) {
    int count = 0;
    for (const auto& sector : run.status.sectors) count += sector.erases;
    return count;
  }

  std::string previous_ini_;
  std::string helper_;
};

Bytes ReadFileBytes(const std::string& path) {
  const std::string text = ReadFileText(path);
  return Bytes(text.begin(), text.end());
}

Bytes Range(const Bytes& bytes, std::size_t from, std::size_t to) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.begin() + static_cast<std::ptrdiff_t>(to));
}

TEST_F(RecoveryTest, RewritesTheFlashKeepsTheStorageMemoryAndWritesTheOsHeaderLast) {
  const std::string image = Image("os.fls", 0x270000);
  ui_.answers = {mrOK};  // the erase warning
  const RecoveryRun run = Recover(image, 0);
  ASSERT_FALSE(run.raised) << run.error;
  EXPECT_TRUE(run.outcome.flash_rewritten) << run.outcome.reason;
  EXPECT_TRUE(run.outcome.Succeeded());
  const Bytes written = ReadFileBytes(image);
  EXPECT_EQ(Range(run.after, kSector, 0x270000), Range(written, kSector, 0x270000));
  EXPECT_EQ(Range(run.after, 0x270000, 0x400000), Range(run.before, 0x270000, 0x400000));
  const auto writes = FlashWrites(run);
  ASSERT_EQ(writes.size(), 38u);
  EXPECT_EQ(writes.front(), 0xA0020000u);
  EXPECT_EQ(writes.back(), 0xA0010000u);
  EXPECT_EQ(Erased(run), 0x26);
  EXPECT_EQ(Count(run, "79"), 1);  // the reboot
  EXPECT_EQ(run.outcome.result, rrDone);
}

TEST_F(RecoveryTest, WriteLimitTable) {
  struct Case {
    const char* name;
    std::uint32_t size;
    TOptionWord options;
    std::deque<DialogResult> answers;
    bool rewritten;
    int erased;
    int written;
    bool storage_kept;
  };
  const Case cases[] = {
      {"0x270000, neither option", 0x270000, 0, {mrOK}, true, 0x26, 38, true},
      {"0x270000, delete", 0x270000, OPT_DELETE_SMEM, {mrOK}, true, 0x3F, 38, false},
      {"0x270000, include", 0x270000, OPT_INCLUDE_SMEM, {mrOK}, true, 0x26, 38, true},
      {"0x270000, include and delete", 0x270000, OPT_INCLUDE_SMEM | OPT_DELETE_SMEM, {mrOK}, true, 0x3F, 38, false},
      {"0x400000, include", 0x400000, OPT_INCLUDE_SMEM, {mrOK}, true, 0x3F, 63, false},
      {"0x400000, delete", 0x400000, OPT_DELETE_SMEM, {mrOK}, true, 0x3F, 63, false},
      {"0x400000, neither, truncation accepted", 0x400000, 0, {mrYes, mrOK}, true, 0x26, 38, true},
      {"0x400000, neither, truncation declined", 0x400000, 0, {mrNo}, false, 0, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ui_ = RecordingUi{};
    ui_.answers = c.answers;
    const std::string image = Image("limit.fls", c.size);
    const RecoveryRun run = Recover(image, c.options);
    ASSERT_FALSE(run.raised) << run.error;
    EXPECT_EQ(run.outcome.flash_rewritten, c.rewritten) << run.outcome.reason;
    // A declined truncation leaves the program running: nothing told it to restart.
    EXPECT_EQ(run.outcome.program_left_running, !c.rewritten);
    EXPECT_EQ(Erased(run), c.erased);
    EXPECT_EQ(static_cast<int>(FlashWrites(run).size()), c.written);
    const Bytes storage = Range(run.after, 0x270000, 0x400000);
    if (c.storage_kept) {
      EXPECT_EQ(storage, Range(run.before, 0x270000, 0x400000));
    } else if (c.size == 0x400000) {
      EXPECT_EQ(storage, Range(ReadFileBytes(image), 0x270000, 0x400000));
    } else {
      EXPECT_TRUE(std::all_of(storage.begin(), storage.end(), [](std::uint8_t b) { return b == 0xFF; }));
    }
    if (c.size == 0x400000 && c.options == 0) {
      const auto boxes = ui_.BoxTexts();
      EXPECT_NE(std::find(boxes.begin(), boxes.end(),
                          "Filesize 00400000 exceeds the limit 00270000.\r\nThe data written will be truncated. "
                          "Proceed?"),
                boxes.end());
    }
  }
}

TEST_F(RecoveryTest, Fx7400GiiTakesOnlyA2MiBImageOverSerial) {
  ui_.answers = {mrOK};
  const Unit fx7400_in_its_boot_code{0, 0, [](fxsim::SimConfig& config) { config.program.caller_code = 0; }, "fx-7400GII"};
  const RecoveryRun run = Recover(Image("7400.fls", 0x200000, 5), 0, fx7400_in_its_boot_code, true);
  ASSERT_FALSE(run.raised) << run.error;
  EXPECT_TRUE(run.outcome.flash_rewritten) << run.outcome.reason;
  EXPECT_EQ(Erased(run), 0x1F);
  EXPECT_EQ(Range(run.after, kSector, 0x200000), Range(ReadFileBytes(File("7400.fls")), kSector, 0x200000));

  ui_ = RecordingUi{};
  const RecoveryRun wrong =
      Recover(Image("big.fls", 0x270000, 2), OPT_IGNORE_CHECKSUM | OPT_IGNORE_ID, fx7400_in_its_boot_code, true);
  EXPECT_FALSE(wrong.outcome.flash_rewritten);
  EXPECT_EQ(Erased(wrong), 0);
  const auto boxes = ui_.BoxTexts();
  EXPECT_NE(std::find(boxes.begin(), boxes.end(), "Invalid filesize 00270000"), boxes.end());
}

TEST_F(RecoveryTest, CableCheckForEveryBiosType) {
  const std::string image = Image("any.fls", 0x270000);
  const std::string small_image = Image("small.fls", 0x200000, 5);
  for (std::uint16_t type : {0, 1, 2, 3, 4, 5, 6, 7, 9}) {
    for (bool serial : {false, true}) {
      SCOPED_TRACE(std::to_string(type) + (serial ? " serial" : " usb"));
      const bool serial_bios = type == 5 || type == 6;
      const bool fits = type <= 7 && serial == serial_bios;
      if (fits) continue;  // the good combinations run in the other tests
      ui_ = RecordingUi{};
      ui_.answers = {mrOK, mrOK};
      const RecoveryRun run = Recover(type == 5 ? small_image : image, OPT_IGNORE_ID, Unit{type, 0, {}}, serial);
      EXPECT_FALSE(run.outcome.flash_rewritten);
      EXPECT_EQ(Erased(run), 0);
      EXPECT_EQ(Count(run, "78"), 1);
      const auto errors = ui_.Texts(nfErrorBox);
      ASSERT_FALSE(errors.empty());
      EXPECT_NE(errors.back().find("Try the other cable-type!"), std::string::npos);
    }
  }
}

TEST_F(RecoveryTest, MachineQuestionsAndRefusals) {
  struct Case {
    const char* name;
    Unit unit;
    TOptionWord options;
    std::deque<DialogResult> answers;
    bool rewritten;
    int reboots;  // forced reboots ("78")
  };
  auto unknown_sh4 = [](fxsim::SimConfig& c) {
    fxsim::ProgramConfig sh4 = fxsim::UnknownSh4Program();
    sh4.bios_type = c.program.bios_type;
    sh4.caller_code = c.program.caller_code;
    sh4.erase_ms = c.program.erase_ms;
    sh4.write_ms = c.program.write_ms;
    sh4.restart_ms = c.program.restart_ms;
    c.program = sh4;
  };
  auto other_id = [](fxsim::SimConfig& c) {
    c.program.bios_id = std::array<std::uint8_t, 8>{'O', 'T', 'H', 'E', 'R', 'I', 'D', '1'};
  };
  auto gii2_os = [](fxsim::SimConfig& c) { c.device_info.os_code_version = "02.02.0000"; };
  auto gii2_updater = [](fxsim::SimConfig& c) {
    c.device_info.os_code_version = "00.10.0300";
    c.program.usb_reconnect_on_start = true;
  };
  const Case cases[] = {
      {"unknown hardware declined", {2, 0, unknown_sh4}, 0, {mrNo}, false, 0},
      {"unknown hardware accepted", {2, 0, unknown_sh4}, 0, {mrYes, mrOK}, true, 0},
      {"type mismatch declined", {3, 0, {}}, 0, {mrCancel}, false, 1},
      {"type mismatch accepted", {3, 0, {}}, 0, {mrOK, mrOK}, true, 0},
      {"ID mismatch", {2, 0, other_id}, 0, {mrOK}, false, 1},
      {"ID mismatch ignored", {2, 0, other_id}, OPT_IGNORE_ID, {mrOK}, true, 0},
      {"unknown caller code", {2, 7, {}}, 0, {mrOK}, false, 1},
      {"erase warning declined", {2, 0, {}}, 0, {mrCancel}, false, 1},
      {"GII-2 running OS 2.02", {7, 0, gii2_os}, 0, {mrOK, mrOK, mrOK}, false, 0},
      {"GII-2 in its updater, reconnected over USB", {7, 0, gii2_updater}, 0, {mrOK, mrOK, mrOK}, true, 0},
  };
  const std::string image = Image("q.fls", 0x270000);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ui_ = RecordingUi{};
    ui_.answers = c.answers;
    const RecoveryRun run = Recover(image, c.options, c.unit);
    ASSERT_FALSE(run.raised) << run.error;
    EXPECT_EQ(run.outcome.flash_rewritten, c.rewritten) << run.outcome.reason;
    if (!c.rewritten) {
      EXPECT_EQ(Erased(run), 0);
    }
    EXPECT_EQ(Count(run, "78"), c.reboots);
    // Every end without a restart command leaves the program running on the calculator.
    EXPECT_EQ(run.outcome.program_left_running, !c.rewritten && c.reboots == 0) << run.outcome.reason;
  }
}

TEST_F(RecoveryTest, LcdContrastCases) {
  struct Case {
    const char* name;
    std::string setting;
    std::deque<DialogResult> answers;
    std::deque<std::optional<std::string>> inputs;
    std::vector<std::uint32_t> sent;
  };
  const Case cases[] = {
      {"31", "31", {mrOK}, {}, {}},
      {"241", "241", {mrOK}, {}, {}},
      {"empty", "", {mrOK}, {}, {}},
      {"32", "32", {mrYes, mrOK}, {}, {32}},
      {"240", "240", {mrYes, mrOK}, {}, {240}},
      {"No, then 160", "150", {mrNo, mrYes, mrOK}, {std::string("160")}, {150, 160}},
  };
  const std::string image = Image("c.fls", 0x270000);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ui_ = RecordingUi{};
    ui_.answers = c.answers;
    ui_.input_answers = c.inputs;
    SetSetting("LCD_CONTRAST", "ANY_MACHINE", c.setting);
    const RecoveryRun run = Recover(image, 0);
    EXPECT_TRUE(run.outcome.flash_rewritten) << run.outcome.reason;
    EXPECT_EQ(run.status.contrasts, c.sent);
  }
}

TEST_F(RecoveryTest, SecondPassAfterTheBootCodeRestart) {
  SetSetting("LCD_CONTRAST", "ANY_MACHINE", "160");
  ui_.answers = {mrYes, mrYes, mrOK};  // contrast OK, OS ERROR screen shown, erase warning
  const RecoveryRun run = Recover(Image("p.fls", 0x270000), 0, Unit{2, 1, {}});
  ASSERT_FALSE(run.raised) << run.error;
  EXPECT_TRUE(run.outcome.flash_rewritten) << run.outcome.reason;
  EXPECT_EQ(Count(run, "77"), 1);
  EXPECT_EQ(run.status.uploads, 2);
  // The contrast goes again on the second pass, without a second question.
  EXPECT_EQ(run.status.contrasts, (std::vector<std::uint32_t>{160, 160}));
  const auto boxes = ui_.BoxTexts();
  EXPECT_EQ(std::count(boxes.begin(), boxes.end(), "LCD contrast OK?"), 1);

  ui_ = RecordingUi{};
  ui_.answers = {mrNo};  // no OS ERROR screen
  const RecoveryRun declined = Recover(Image("p.fls", 0x270000), 0, Unit{2, 1, {}});
  EXPECT_FALSE(declined.outcome.flash_rewritten);
  EXPECT_EQ(Erased(declined), 0);
}

// The fx-7400GII's OS starts the program, so its recovery restarts the unit into the boot
// code over the serial line, where a restart does not show. The question is answered at
// once while the boot code still takes its time to come up: the reconnect must try again.
TEST_F(RecoveryTest, SecondPassOverTheSerialLineWaitsForTheBootCode) {
  ui_.answers = {mrYes, mrOK};  // OS ERROR screen shown, erase warning
  const Unit fx7400_from_its_os{0, 0, [](fxsim::SimConfig& config) { config.program.restart_ms = 1500; }, "fx-7400GII"};
  const RecoveryRun run = Recover(Image("7400.fls", 0x200000, 5), 0, fx7400_from_its_os, true);
  ASSERT_FALSE(run.raised) << run.error;
  EXPECT_TRUE(run.outcome.flash_rewritten) << run.outcome.reason;
  EXPECT_EQ(Count(run, "77"), 1);
  EXPECT_EQ(run.status.uploads, 2);
  EXPECT_EQ(Range(run.after, kSector, 0x200000), Range(ReadFileBytes(File("7400.fls")), kSector, 0x200000));
}

// Every model the simulator knows is rewritten over its own cable from an image of its own
// BIOS type, without a question about unknown hardware or the cable: what each model
// reports (BIOS type, the system that starts the program, flash chip, processor
// registers) is what the recovery expects of such a unit.
TEST_F(RecoveryTest, EveryModelIsRewrittenOverItsOwnCable) {
  const auto from_boot_code = [](fxsim::SimConfig& c) { c.program.caller_code = 0; };
  // The GII-2 units are rewritten from their primary OS updater, which re-initialises USB.
  const auto gii2_updater = [](fxsim::SimConfig& c) {
    c.program.caller_code = 0;
    c.device_info.os_code_version = "00.10.0300";
    c.program.usb_reconnect_on_start = true;
  };
  struct Case {
    const char* model;
    bool serial;
    std::uint32_t size;
    int bios_row;  // of the image
    const char* os_version;
    std::function<void(fxsim::SimConfig&)> adjust;
    std::deque<DialogResult> answers;
  };
  const Case cases[] = {
      {"fx-9860GII", false, 0x270000, 7, "02.00.0000", from_boot_code, {mrOK}},
      {"fx-9860G", false, 0x270000, 1, "01.04.0000", from_boot_code, {mrOK}},
      {"fx-7400GII", true, 0x200000, 10, "02.00.0000", from_boot_code, {mrOK}},
      {"fx-9860GII-2", false, 0x270000, 11, "02.00.0000", gii2_updater, {mrOK, mrOK}},
      {"fx-9750GII-2", false, 0x270000, 11, "02.00.0000", gii2_updater, {mrOK, mrOK}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    ui_ = RecordingUi{};
    ui_.answers = c.answers;
    const std::string image = Image(std::string(c.model) + ".fls", c.size, 2, [&c](TestImageSpec& spec) {
      spec.bios_row = c.bios_row;
      spec.os_version = c.os_version;
      if (c.size == 0x200000) spec.layout_class = 3;
    });
    const RecoveryRun run = Recover(image, 0, Unit{0, 0, c.adjust, c.model}, c.serial);
    ASSERT_FALSE(run.raised) << run.error;
    EXPECT_TRUE(run.outcome.flash_rewritten) << run.outcome.reason;
    const auto boxes = ui_.BoxTexts();
    for (const std::string& box : boxes) {
      EXPECT_EQ(box.find("Unknown hardware"), std::string::npos) << box;
      EXPECT_EQ(box.find("cable"), std::string::npos) << box;
    }
    EXPECT_EQ(Range(run.after, kSector, c.size), Range(ReadFileBytes(image), kSector, c.size));
  }
}

TEST_F(RecoveryTest, UploadAndRunSendsTheFileAndNothingElse) {
  const RecoveryRun run = Recover(helper_, OPT_UPLOAD_AND_RUN | OPT_INCLUDE_SMEM | OPT_DELETE_SMEM);
  ASSERT_FALSE(run.raised) << run.error;
  EXPECT_TRUE(run.outcome.program_started);
  EXPECT_TRUE(run.outcome.Succeeded());
  EXPECT_EQ(run.status.uploads, 1);
  EXPECT_EQ(Count(run, "76"), 0);
  EXPECT_EQ(Erased(run), 0);

  ui_ = RecordingUi{};
  const RecoveryRun missing = Recover(File("none.bin"), OPT_UPLOAD_AND_RUN);
  EXPECT_EQ(missing.outcome.result, rrUploadFileMissing);
  EXPECT_FALSE(missing.outcome.Succeeded());
  EXPECT_EQ(ui_.Texts(nfStatus).back(), File("none.bin") + " missing!");
}

TEST_F(RecoveryTest, MissingProgramEndsWithResult3) {
  if (!BuiltInProgramRecord().empty()) GTEST_SKIP() << "this build carries a calculator program";
  const RecoveryRun run = Recover(Image("m.fls", 0x270000), 0, {}, false, "@@MEMFILE@@");
  EXPECT_EQ(run.outcome.result, rrProgramMissing);
  EXPECT_FALSE(run.outcome.Succeeded());
  EXPECT_EQ(run.status.uploads, 0);
  EXPECT_EQ(RecoveryResultMessage(rrProgramMissing, ""), "OSRECOVER.SH4 missing!\r\nRecovery is not possible!\r\n");
}

TEST_F(RecoveryTest, StopWhileWritingLeavesTheOsHeaderUnwritten) {
  ui_.answers = {mrOK};
  ui_.on_process_messages = [this] {
    if (ui_.Texts(nfSpeed).size() >= 5) {  // one speed line per block written
      StopRequest() = stopByUser;
    }
  };
  const RecoveryRun run = Recover(Image("s.fls", 0x270000), 0);
  EXPECT_FALSE(run.outcome.flash_rewritten);
  const auto writes = FlashWrites(run);
  EXPECT_FALSE(writes.empty());
  EXPECT_EQ(std::count(writes.begin(), writes.end(), 0xA0010000u), 0);
}

// A fault at every step of the program's part: no answer, an error answer, a pulled cable
// or a calculator that stops answering.
class RecoveryFaultTest : public RecoveryTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(RecoveryFaultTest, EndsCleanly) {
  SetSetting("LCD_CONTRAST", "ANY_MACHINE", "160");
  ui_.answers = {mrYes, mrOK};
  Unit unit;
  const std::string fault = GetParam();
  unit.adjust = [fault](fxsim::SimConfig& c) { c.faults.push_back(fxsim::FaultSpec::Parse(fault)); };
  const RecoveryRun run = Recover(Image("f.fls", 0x270000), 0, unit);
  EXPECT_FALSE(run.outcome.Succeeded());
  if (!run.raised) {
    EXPECT_FALSE(run.outcome.reason.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Steps, RecoveryFaultTest,
    ::testing::Values("no-answer@upload", "error:05@upload", "no-answer@upload-block:20", "disconnect@upload-block:3",
                      "no-answer@os-bios", "no-answer@os-bios-record", "error:00@os-bios", "no-answer@contrast",
                      "error:00@contrast", "no-answer@erase:5", "error:00@erase:0x26", "disconnect@erase:10",
                      "no-answer@ram-write:70", "error:00@ram-write:3", "disconnect@ram-write:100",
                      "no-answer@write:0x20", "error:00@write:3", "disconnect@write:30", "stall@erase:2"),
    [](const auto& info) {
      std::string name = info.param;
      for (char& ch : name) ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
      return name;
    });

}  // namespace
}  // namespace ostrel::testing

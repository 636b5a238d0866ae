// The operation buttons against the simulated calculator: each runs the real operation
// through its dialog, writes its settings, and leaves the window idle, also when it is
// cancelled or raises an error.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <algorithm>
#include <filesystem>

#include "app/device_control_test.h"
#include "app/simulated_window_links.h"
#include "fxsim/simulator.h"
#include "imagegen/image_generator.h"
#include "simulation/simulated_calculator.h"
#include "simulation/simulated_flash.h"
#include "support/link_test_helpers.h"
#include "support/test_files.h"
#include "window_fixture.h"

namespace ostrel::testing {
namespace {

// A calculator whose flash holds a valid generated OS image.
fxsim::SimConfig ValidCalculator() {
  TestImageSpec spec;
  spec.size = 0x400000;
  fxsim::SimConfig config;
  config.flash = GenerateTestImage(spec);
  // The uploaded recovery program's flash work and restarts, quick for the tests.
  config.program.erase_ms = 1;
  config.program.write_ms = 1;
  config.program.restart_ms = 200;
  return config;
}

class WindowOperationTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    links.target.usb_device = sim.StartUsb();
    links.target.timings = QuickTimings();
  }

  // The window is idle: the status says so, Cancel is the one disabled button.
  void ExpectIdle() {
    EXPECT_FALSE(window->OperationRunning());
    EXPECT_EQ(window->lblStatus->text().toStdString(), "Idle...");
    EXPECT_FALSE(window->btnCancel->isEnabled());
    EXPECT_TRUE(window->btnBackup->isEnabled());
    EXPECT_EQ(StopRequest().load(), stopNone);
  }

  bool DiagnosticsContain(const std::string& text) const {
    return window->memDiagnostic->toPlainText().contains(QString::fromStdString(text));
  }

  fxsim::Simulator sim{ValidCalculator()};
};

TEST_F(WindowOperationTest, BackupFlashWritesAVerifiedImageAndItsSettings) {
  TForm1& form = Open();
  const std::string file = tmp / "flash.fls";
  Settings().WriteString("PROGRAM", "LastSavedFile", tmp / "older.fls");
  dialogs.files = {file};
  form.btnBackup->click();

  ASSERT_EQ(dialogs.file_requests.size(), 1u);
  EXPECT_EQ(dialogs.file_requests[0].kind, TFileDialogRequest::Kind::Save);
  EXPECT_EQ(dialogs.file_requests[0].filter, "Flash-image|*.fls;*.G1S;*.bin");
  EXPECT_EQ(dialogs.file_requests[0].file_name, tmp / "older.fls");
  const std::string image = ReadFileText(file);
  EXPECT_EQ(image.size(), 0x270000u);
  EXPECT_EQ(image, std::string(sim.Flash().begin(), sim.Flash().begin() + 0x270000));
  EXPECT_EQ(Settings().ReadString("PROGRAM", "LastSavedFile", ""), file);
  EXPECT_EQ(Settings().ReadInteger("PROGRAM", "CABLE", -1), 1);
  EXPECT_FALSE(form.memCalcData->toPlainText().isEmpty()) << "the calculator describes itself";
  EXPECT_FALSE(form.edSpeed->text().isEmpty());
  EXPECT_TRUE(DiagnosticsContain("Backup: " + file));
  EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.boxes.front().text;
  ExpectIdle();
}

TEST_F(WindowOperationTest, TheCancelButtonStopsARunningBackup) {
  TForm1& form = Open();
  const std::string file = tmp / "flash.fls";
  dialogs.files = {file};
  // Press Cancel as soon as the transfer shows progress; the operation lets the window's
  // messages run, so the button's handler runs inside it.
  bool pressed = false;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (!pressed && form.ProgressBar1->value() > 0) {
      pressed = true;
      EXPECT_EQ(EnabledButtons(), std::vector<std::string>{"Cancel"});
      form.btnCancel->click();
      EXPECT_EQ(form.lblStatus->text().toStdString(), "Cancelled!");
    }
  });
  watch.start(1);
  form.btnBackup->click();
  watch.stop();

  ASSERT_TRUE(pressed);
  // Only a complete image takes the chosen name; what was read is kept beside it.
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_GT(ReadFileText(file + ".partial").size(), 0u);
  EXPECT_LT(ReadFileText(file + ".partial").size(), 0x270000u);
  // The calculator was left in the middle of its transfer: the stop report says to reset it.
  EXPECT_EQ(dialogs.Texts(DialogKind::Warning).back(),
            "Manually cancelled!\r\nYou should reset your calculator!\r\nUse the RESTART- or P-button.");
  EXPECT_TRUE(DiagnosticsContain("Manually cancelled!"));
  ExpectIdle();
}

TEST_F(WindowOperationTest, ClosingDuringABackupStopsItAndClosesAfterItsCleanUp) {
  TForm1& form = Open();
  dialogs.files = {tmp / "flash.fls"};
  bool asked = false;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (asked || form.ProgressBar1->value() == 0) return;
    asked = true;
    form.FormActivate();  // a return from another window changes nothing while busy
    EXPECT_EQ(EnabledButtons(), std::vector<std::string>{"Cancel"});
    EXPECT_FALSE(form.close()) << "the window waits for the operation";
    EXPECT_TRUE(form.isVisible());
  });
  watch.start(1);
  form.btnBackup->click();
  watch.stop();

  ASSERT_TRUE(asked);
  EXPECT_FALSE(form.isVisible()) << "closed once the backup had ended";
  EXPECT_TRUE(dialogs.Texts(DialogKind::Warning).back().starts_with("Manually cancelled!\r\nYou should reset"));
  EXPECT_TRUE(Settings().ValueExists("WINDOW", "WIDTH")) << "closing wrote the settings";
  EXPECT_FALSE(form.OperationRunning());
}

TEST_F(WindowOperationTest, AnErrorInsideAnOperationIsShownOnceAndTheWindowIsIdleAgain) {
  Settings().WriteInteger("PROGRAM", "CABLE", 7);  // no cable item selected
  TForm1& form = Open();
  dialogs.files = {tmp / "flash.fls", tmp / "ram.RAM"};
  form.btnBackup->click();
  // The system's text, and what to do beneath it.
  EXPECT_EQ(dialogs.Texts(DialogKind::Error),
            std::vector<std::string>{"Cable error: choose the cable: USB or the 3-pin serial cable"});
  ExpectIdle();
  form.btnBackupRAM->click();
  EXPECT_EQ(dialogs.Texts(DialogKind::Error).size(), 2u);
  ExpectIdle();
}

TEST_F(WindowOperationTest, ACancelledFileDialogSkipsTheOperation) {
  TForm1& form = Open();
  form.btnBackup->click();
  EXPECT_EQ(dialogs.file_requests.size(), 1u);
  EXPECT_EQ(sim.ReceivedPackets().size(), 0u);
  EXPECT_EQ(Settings().ReadString("PROGRAM", "LastSavedFile", "none"), "none");
  ExpectIdle();
}

TEST_F(WindowOperationTest, BackupRamKeepsTheSaveDialogsNameAndWritesTheRam) {
  Settings().WriteString("PROGRAM", "LastSavedFile", tmp / "flash.fls");  // primes the save dialog
  TForm1& form = Open();
  const std::string file = tmp / "memory.RAM";
  dialogs.files = {file};
  form.btnBackupRAM->click();
  ASSERT_EQ(dialogs.file_requests.size(), 1u);
  EXPECT_EQ(dialogs.file_requests[0].filter, "RAM-image|*.RAM");
  EXPECT_EQ(dialogs.file_requests[0].file_name, tmp / "flash.fls");
  EXPECT_EQ(ReadFileText(file), std::string(sim.Ram().begin(), sim.Ram().end()));
  EXPECT_EQ(Settings().ReadString("PROGRAM", "LastSavedFile", ""), file);
  ExpectIdle();
}

TEST_F(WindowOperationTest, BugfixRunsTheScriptIntoTheDiagnosticsPane) {
  StartEnvironment(true);
  TForm1& form = Open();
  const std::string target = WriteFileText(tmp / "target.bin", std::string(16, '\0'));
  const std::string script = WriteFileText(tmp / "fix.PSC", "TARGETFILE=" + target + "\r\nREPORTALL=TRUE\r\n");
  dialogs.files = {script};
  form.btnBugFix->click();
  ASSERT_EQ(dialogs.file_requests.size(), 1u);
  EXPECT_EQ(dialogs.file_requests[0].filter, "bugfix script|*.PSC");
  EXPECT_EQ(Settings().ReadString("PROGRAM", "LastBugfixFile", ""), script);
  EXPECT_TRUE(DiagnosticsContain("Start! ")) << form.memDiagnostic->toPlainText().toStdString();
  EXPECT_TRUE(DiagnosticsContain("Ready! "));
  EXPECT_FALSE(form.memCalcData->isVisible()) << "the panes stay hidden after a bugfix";
  ExpectIdle();
}

TEST_F(WindowOperationTest, ABugfixScriptThatRaisesEndsInTheErrorBox) {
  StartEnvironment(true);
  TForm1& form = Open();
  dialogs.files = {WriteFileText(tmp / "bad.PSC", "GOTO=0\r\n")};
  form.btnBugFix->click();
  EXPECT_EQ(dialogs.Texts(DialogKind::Error),
            std::vector<std::string>{"TargetFile not open: a TARGETFILE line must open the target before this line"});
  ExpectIdle();
}

TEST_F(WindowOperationTest, BuildProjectRunsTheScriptAndAnImmediateBuildAsksForNoFile) {
  StartEnvironment(true);
  TForm1& form = Open();
  const std::string project = WriteFileText(tmp / "app.PRJ", "A=1\nINCLUDE=" + (tmp / "missing.PRJ") + "\n");
  dialogs.files = {project};
  form.BuildProject->click();
  ASSERT_EQ(dialogs.file_requests.size(), 1u);
  EXPECT_EQ(dialogs.file_requests[0].filter, "fxCG-project|*.PRJ");
  EXPECT_EQ(Settings().ReadString("PROGRAM", "LastProject", ""), project);
  const QStringList lines = form.memDiagnostic->toPlainText().split(QLatin1Char('\n'));
  EXPECT_EQ(lines.front().toStdString(), "Execute: " + project);
  EXPECT_TRUE(DiagnosticsContain("Missing \"" + (tmp / "missing.PRJ") + "\""));
  EXPECT_EQ(lines.back().toStdString(), "Ready");
  EXPECT_FALSE(form.memCalcData->isVisible());
  ExpectIdle();

  form.cbxImmediateBuild->setChecked(true);
  form.BuildProject->click();
  EXPECT_EQ(dialogs.file_requests.size(), 1u) << "the last project is built without a dialog";
  EXPECT_TRUE(DiagnosticsContain("Execute: " + project));
  ExpectIdle();
}

TEST_F(WindowOperationTest, RecoverFlashWritesItsSettingsAndMapsTheResultToItsBox) {
  TForm1& form = Open();
  const std::string image = tmp / "missing.fls";
  dialogs.files = {image};
  form.edLCDcontrast->setText("120");
  form.btnRecover->click();
  ASSERT_EQ(dialogs.file_requests.size(), 1u);
  EXPECT_EQ(dialogs.file_requests[0].kind, TFileDialogRequest::Kind::Open);
  EXPECT_EQ(dialogs.file_requests[0].filter, "Flash-image|*.fls;*.G1S;*.bin");
  EXPECT_EQ(Settings().ReadString("PROGRAM", "LastRecoveredFile", ""), image);
  EXPECT_EQ(Settings().ReadString("LCD_CONTRAST", "ANY_MACHINE", ""), "120");
  EXPECT_EQ(Settings().ReadInteger("PROGRAM", "CABLE", -1), 1);
  EXPECT_EQ(dialogs.Texts(DialogKind::Error),
            std::vector<std::string>{"File\r\n  " + image + "\r\ndoes not exist!\r\nRecovery is not possible!\r\n"});
  EXPECT_TRUE(sim.ReceivedPackets().empty()) << "no link for an image that failed its check";
  ExpectIdle();
}

TEST_F(WindowOperationTest, UploadAndRunMapsAnUnreadableProgramToItsBox) {
  StartEnvironment(true);
  TForm1& form = Open();
  form.chkIncludeStorageMemory->click();
  const std::string program = tmp / "missing.BIN";
  dialogs.files = {program};
  form.btnUploadNRun->click();
  ASSERT_EQ(dialogs.file_requests.size(), 1u);
  EXPECT_EQ(dialogs.file_requests[0].filter, "SHX-binary|*.BIN;*.SH3;*.SH4");
  EXPECT_EQ(Settings().ReadString("PROGRAM", "LastUploadedFile", ""), program);
  EXPECT_EQ(dialogs.Texts(DialogKind::Error),
            std::vector<std::string>{"Invalid uploadfile " + program + "!\r\nUpload is not possible!\r\n"});
  ExpectIdle();
}

TEST_F(WindowOperationTest, RecoverFlashRewritesTheCalculatorsFlashThroughItsQuestions) {
  // Another image than the one the calculator holds, so that the rewrite shows.
  TestImageSpec spec;
  spec.seed = 7;
  const std::string image = tmp / "other.fls";
  WriteTestImage(spec, image);
  const std::vector<std::uint8_t> wanted = GenerateTestImage(spec);
  links.recovery_helper = tmp / "helper.bin";
  WriteImageFile(GenerateTestProgram(), links.recovery_helper);
  const std::vector<std::uint8_t> before = sim.Flash();

  TForm1& form = Open();
  form.edLCDcontrast->setText("");
  dialogs.files = {image};
  // The calculator runs its OS: the program restarts it into its boot code, the user sees
  // the OS ERROR screen and confirms the erase warning.
  dialogs.answers = {mrYes, mrOK};
  form.btnRecover->click();

  EXPECT_TRUE(dialogs.Texts(DialogKind::Error).empty()) << dialogs.Texts(DialogKind::Error).front();
  const std::vector<std::string> questions = dialogs.Texts(DialogKind::Information);
  EXPECT_NE(std::find(questions.begin(), questions.end(), "Is the calculator showing the OS ERROR screen?"),
            questions.end());
  const std::vector<std::uint8_t> after = sim.Flash();
  const auto block = [](const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                     bytes.begin() + static_cast<std::ptrdiff_t>(at + 0x10000));
  };
  EXPECT_EQ(block(after, 0), block(before, 0)) << "sector 0 stays as it was";
  EXPECT_EQ(block(after, 0x10000), block(wanted, 0x10000)) << "the OS header block, written last";
  EXPECT_EQ(block(after, 0x100000), block(wanted, 0x100000));
  ExpectIdle();
}

TEST_F(WindowOperationTest, UploadAndRunStartsTheProgramOnTheCalculator) {
  const std::string program = tmp / "program.bin";
  WriteImageFile(GenerateTestProgram(), program);
  const std::vector<std::uint8_t> before = sim.Flash();
  TForm1& form = Open();
  dialogs.files = {program};
  form.btnUploadNRun->click();
  EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.boxes.front().text;
  EXPECT_EQ(sim.Status().uploads, 1);
  EXPECT_EQ(sim.Flash(), before) << "uploading a program writes no flash";
  ExpectIdle();
}

// As ostrel-gui --simulate=serial starts it: the simulated calculator's serial line is the
// one port, the cable starts as the 3-pin cable, and a flash backup goes over that line.
TEST_F(WindowTest, SimulatedSerialLinkBacksUpOverThePortList) {
  fxsim::Simulator serial_sim(ValidCalculator());
  const std::string line = serial_sim.StartSerial();
  TWindowLinks serial_links = SimulatedWindowLinks(line, true);
  serial_links.target.timings = QuickTimings();
  window = std::make_unique<TForm1>(dialogs, serial_links);
  window->show();
  EXPECT_EQ(window->CableItem(), 0);
  EXPECT_EQ(window->GetOptionWord(), OPT_3PIN);
  ASSERT_EQ(window->cbxCOMList->count(), 1);
  EXPECT_EQ(window->cbxCOMList->currentText().toStdString(), line);

  const std::string file = tmp / "serial.fls";
  dialogs.files = {file};
  window->btnBackup->click();
  const std::string image = ReadFileText(file);
  EXPECT_EQ(image, std::string(serial_sim.Flash().begin(), serial_sim.Flash().begin() + 0x270000));
  EXPECT_TRUE(dialogs.boxes.empty()) << dialogs.boxes.front().text;
  EXPECT_FALSE(window->OperationRunning());
}

// The calculator ostrel-gui --simulate starts runs its OS, so the recovery restarts it into
// its boot code and asks whether it shows the OS ERROR screen: by then the simulated display
// shows it (the window's title tells the user so), and a "No" ends the recovery unerased.
TEST_F(WindowTest, TheSimulatedCalculatorShowsTheOsErrorScreenTheRecoveryAsksAbout) {
  const TSimulatedCalculator calculator(SimulatedLink::Usb);
  links = SimulatedWindowLinks(calculator.Endpoint(), false);
  links.target.timings = QuickTimings();
  links.recovery_helper = tmp / "OSRECOVER.SH4";
  WriteImageFile(SimulatedRecoveryProgram(), links.recovery_helper);
  const std::vector<std::uint8_t> flash = SimulatedFlash();
  const std::string image = tmp / "backup.fls";
  WriteImageFile(std::vector<std::uint8_t>(flash.begin(), flash.begin() + 0x270000), image);
  EXPECT_EQ(calculator.Screen(), "");

  TForm1& form = Open();
  form.edLCDcontrast->setText("");
  dialogs.files = {image};
  std::vector<std::string> screens;
  dialogs.on_box = [&](const ShownBox& box) {
    if (box.text == "Is the calculator showing the OS ERROR screen?") screens.push_back(calculator.Screen());
  };
  dialogs.answers = {mrNo};
  form.btnRecover->click();

  EXPECT_EQ(screens, std::vector<std::string>{"OS ERROR"}) << form.memDiagnostic->toPlainText().toStdString();
  EXPECT_TRUE(form.memDiagnostic->toPlainText().contains(QStringLiteral("no OS ERROR screen")));
  EXPECT_TRUE(dialogs.Texts(DialogKind::Warning).empty()) << "no erase warning: nothing was erased";
  EXPECT_FALSE(form.OperationRunning());
  EXPECT_EQ(form.lblStatus->text().toStdString(), "Idle...");
}

TEST_F(WindowOperationTest, TestButtonCompletesWithoutAMessage) {
  StartEnvironment(true);
  TForm1& form = Open();
  Settings().WriteString("PROGRAM", "TESTDEVICE", tmp / "missing-device");
  form.btnTest->click();
  EXPECT_TRUE(dialogs.boxes.empty());
  ExpectIdle();
  EXPECT_FALSE(RunDeviceControlTest({}, tmp / "missing-device"));
}

}  // namespace
}  // namespace ostrel::testing

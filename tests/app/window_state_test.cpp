// The window's life and states: start-up, enabling per operation state, developer mode,
// the COM list, the storage-memory labels, the LCD contrast check, settings at close.

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>

#include "app/clickable_label.h"
#include "window_fixture.h"
#include "support/case_names.h"

namespace ostrel::testing {
namespace {

using Names = std::vector<std::string>;

TEST_F(WindowTest, StartsIdleWithTheCaptionPortListAndUsbCable) {
  TForm1& form = Open();
  EXPECT_EQ(form.windowTitle().toStdString().rfind("Ostrel Maintenance ", 0), 0u);
  EXPECT_EQ(form.lblStatus->text().toStdString(), "Idle...");
  EXPECT_EQ(form.cbxCOMList->count(), 2);
  EXPECT_EQ(form.cbxCOMList->currentText().toStdString(), "/dev/ttyUSB0");
  EXPECT_EQ(form.CableItem(), 1);
  EXPECT_TRUE(form.rgrpCable->isVisible());
  EXPECT_FALSE(form.cbxCOMList->isVisible()) << "USB hides the port list";
  EXPECT_EQ(form.GetOptionWord(), OPT_USB);
  EXPECT_FALSE(form.btnCancel->isEnabled());
  EXPECT_EQ(form.edLCDcontrast->text().toStdString(), "");

  form.rbCable3Pin->click();
  EXPECT_TRUE(form.cbxCOMList->isVisible());
  EXPECT_EQ(form.GetOptionWord(), OPT_3PIN);
  form.cbxCOMList->setCurrentIndex(0);
  form.cbxCOMListChange();
  EXPECT_EQ(Settings().ReadString("PROGRAM", "COMPORT", ""), "/dev/ttyS0");
}

TEST_F(WindowTest, CancelIsTheOnlyEnabledButtonInEveryBusyState) {
  StartEnvironment(true);
  TForm1& form = Open();
  EXPECT_EQ(EnabledButtons().size(), 8u) << "every button but Cancel in idle";
  for (int mode : {osBusy, osBugfix, osBuild}) {
    form.SetOperationState(mode);
    EXPECT_EQ(EnabledButtons(), Names{"Cancel"}) << "mode " << mode;
    for (QWidget* control : std::initializer_list<QWidget*>{form.chkIncludeStorageMemory, form.cbxIgnoreMainMemory,
                                                            form.rgrpCable, form.cbxCOMList, form.edLCDcontrast}) {
      EXPECT_FALSE(control->isEnabled()) << "mode " << mode;
    }
    form.SetOperationState(osIdle);
    EXPECT_FALSE(form.btnCancel->isEnabled());
    EXPECT_TRUE(form.btnBackup->isEnabled());
    EXPECT_FALSE(form.edBackupLimit->isEnabled()) << "the limits only display";
  }
}

TEST_F(WindowTest, BugfixLayoutHidesTheCalculatorAndImagePanesUntilTheNextBusyState) {
  TForm1& form = Open();
  form.SetOperationState(osBugfix);
  EXPECT_EQ(form.lblStatus->text().toStdString(), "Bugfix...");
  EXPECT_FALSE(form.memCalcData->isVisible());
  EXPECT_FALSE(form.memImageData->isVisible());
  form.FinishOperation();
  EXPECT_EQ(form.lblStatus->text().toStdString(), "Idle...");
  EXPECT_FALSE(form.memCalcData->isVisible()) << "the bugfix layout remains";
  form.SetOperationState(osBusy);
  EXPECT_TRUE(form.memCalcData->isVisible());
  EXPECT_TRUE(form.memImageData->isVisible());
  EXPECT_TRUE(form.lblCalcData->isVisible());

  form.memDiagnostic->setPlainText("old");
  form.SetOperationState(osBuild);
  EXPECT_EQ(form.lblStatus->text().toStdString(), "Build project...");
  EXPECT_TRUE(form.memDiagnostic->toPlainText().isEmpty());
}

TEST_F(WindowTest, DeveloperModeDecidesWhatIsShownAtEveryCheck) {
  TForm1& form = Open();
  const auto developer_controls = [&form] {
    return std::vector<QWidget*>{form.btnUploadNRun, form.btnTest, form.BuildProject, form.btnBugFix,
                                 form.cbxIgnoreID, form.cbxIgnoreChk, form.cbxImmediateBuild};
  };
  for (int mode : {osBusy, osIdle, osBugfix, osBuild, osIdle}) {
    form.SetOperationState(mode);
    for (QWidget* control : developer_controls()) EXPECT_FALSE(control->isVisible()) << "mode " << mode;
  }

  StartEnvironment(true);  // looked up anew: the next activation shows everything
  form.FormActivate();
  for (QWidget* control : developer_controls()) {
    EXPECT_TRUE(control->isVisible());
    EXPECT_TRUE(control->isEnabled());
  }
  form.SetOperationState(osBusy);
  EXPECT_TRUE(form.btnTest->isVisible());
  form.SetOperationState(osIdle);
  form.cbxIgnoreID->setChecked(true);
  form.cbxIgnoreChk->setChecked(true);
  EXPECT_EQ(form.GetOptionWord(), OPT_USB | OPT_IGNORE_ID | OPT_IGNORE_CHECKSUM);
}

TEST_F(WindowTest, NoComPortMeansUsbWithTheCableChoiceDisabledAndHidden) {
  ports.clear();
  configured_port.clear();
  Settings().WriteInteger("PROGRAM", "CABLE", 0);
  TForm1& form = Open();
  EXPECT_EQ(form.CableItem(), 1);
  EXPECT_FALSE(form.rgrpCable->isEnabled());
  EXPECT_FALSE(form.rgrpCable->isVisible());
  EXPECT_FALSE(form.cbxCOMList->isVisible());
  form.SetOperationState(osBusy);
  form.FinishOperation();
  form.FormActivate();
  EXPECT_FALSE(form.rgrpCable->isEnabled());
  EXPECT_FALSE(form.rgrpCable->isVisible());
  EXPECT_FALSE(form.cbxCOMList->isVisible());
}

struct StorageMemoryCase {
  bool include;
  bool erase;
  const char* recovery_label;
  const char* recovery_limit;
  const char* backup_label;
  const char* backup_limit;
};

// The case in words: how gtest shows it and what its test name is made from.
std::string Describe(const StorageMemoryCase& c) { return std::string(c.include ? "include" : "exclude") + (c.erase ? " erase" : " keep"); }
void PrintTo(const StorageMemoryCase& c, std::ostream* os) { *os << Describe(c); }

class StorageMemoryLabels : public WindowTest, public ::testing::WithParamInterface<StorageMemoryCase> {};

TEST_P(StorageMemoryLabels, ShowTheTextOfTheOptionsAndTheLimits) {
  const StorageMemoryCase& c = GetParam();
  TForm1& form = Open();
  if (form.chkIncludeStorageMemory->isChecked() != c.include) form.chkIncludeStorageMemory->click();
  if (form.chkDeleteStorageMemory->isChecked() != c.erase) form.chkDeleteStorageMemory->click();
  EXPECT_EQ(form.lblSMEMafterOp->text().toStdString(), c.recovery_label);
  EXPECT_EQ(form.edRecoveryLimit->text().toStdString(), c.recovery_limit);
  EXPECT_EQ(form.lblFILEafterOp->text().toStdString(), c.backup_label);
  EXPECT_EQ(form.edBackupLimit->text().toStdString(), c.backup_limit);
  EXPECT_EQ(form.GetOptionWord() & (OPT_INCLUDE_SMEM | OPT_DELETE_SMEM),
            (c.include ? OPT_INCLUDE_SMEM : 0) | (c.erase ? OPT_DELETE_SMEM : 0));
}

INSTANTIATE_TEST_SUITE_P(
    FourCombinations, StorageMemoryLabels,
    ::testing::Values(
        StorageMemoryCase{true, true, "if Filesize=0x400000 => SMEM recovered; if Filesize=0x270000 => SMEM deleted",
                          "400000", "Backup filesize: 0x400000; SMEM included", "400000"},
        StorageMemoryCase{true, false,
                          "if Filesize=0x400000 => SMEM recovered; if Filesize=0x270000 => SMEM untouched", "400000",
                          "Backup filesize: 0x400000; SMEM included", "400000"},
        StorageMemoryCase{false, true, "Recovery size 0x270000; SMEM deleted", "400000",
                          "Backup filesize: 0x270000; SMEM not included", "270000"},
        StorageMemoryCase{false, false, "Recovery size 0x270000; SMEM untouched", "270000",
                          "Backup filesize: 0x270000; SMEM not included", "270000"}),
    ostrel::testing::DescribedName{});

TEST_F(WindowTest, EditedLabelTextsAreShownAndNotOverwritten) {
  Settings().WriteString("PROGRAM", "MSGR00", "custom deleted");
  Settings().WriteString("PROGRAM", "MSGB1F", "custom backup");
  TForm1& form = Open();
  form.chkDeleteStorageMemory->click();
  EXPECT_EQ(form.lblSMEMafterOp->text().toStdString(), "custom deleted");
  EXPECT_EQ(Settings().ReadString("PROGRAM", "MSGR11", "none"), "none") << "defaults only when MSGR00 is blank";
  EXPECT_EQ(form.lblFILEafterOp->text().toStdString(), "") << "MSGB0F was never written";
  form.chkIncludeStorageMemory->click();
  EXPECT_EQ(form.lblFILEafterOp->text().toStdString(), "custom backup");
}

TEST_F(WindowTest, LcdContrastOutsideItsRangeIsRefusedAndCleared) {
  struct Case {
    const char* text;
    bool refused;
  };
  TForm1& form = Open();
  for (const Case& c : {Case{"31", true}, Case{"241", true}, Case{"32", false}, Case{"240", false},
                        Case{"   ", false}, Case{"", false}, Case{"9 9", true}}) {
    dialogs.boxes.clear();
    form.edLCDcontrast->setText(c.text);
    form.edLCDcontrastExit();
    if (c.refused) {
      ASSERT_EQ(dialogs.boxes.size(), 1u) << c.text;
      EXPECT_EQ(dialogs.boxes[0].kind, DialogKind::Warning);
      EXPECT_EQ(dialogs.boxes[0].text, "Invalid LCD contrast setting. LCD contrast adjustment disabled.");
      EXPECT_EQ(form.edLCDcontrast->text().toStdString(), "") << c.text;
    } else {
      EXPECT_TRUE(dialogs.boxes.empty()) << c.text;
      EXPECT_EQ(form.edLCDcontrast->text().toStdString(), c.text);
    }
  }
}

TEST_F(WindowTest, ClosingWritesTheSettingsThatTheNextWindowReadsBack) {
  {
    TForm1& form = Open();
    form.rbCable3Pin->click();
    form.edLCDcontrast->setText("150");
    form.chkIncludeStorageMemory->click();
    form.cbxIgnoreMainMemory->click();
    form.resize(1100, 760);
    form.move(40, 50);
    EXPECT_TRUE(form.close());
  }
  const TIniFile settings = Settings();
  EXPECT_EQ(settings.ReadInteger("PROGRAM", "CABLE", -1), 0);
  EXPECT_EQ(settings.ReadString("LCD_CONTRAST", "ANY_MACHINE", "x"), "150");
  EXPECT_EQ(settings.ReadInteger("PROGRAM", "chkIncludeStorageMemory", -1), 1);
  EXPECT_EQ(settings.ReadInteger("PROGRAM", "chkDeleteStorageMemory", -1), 0);
  EXPECT_EQ(settings.ReadInteger("PROGRAM", "cbxIgnoreMainMemory", -1), 1);
  EXPECT_EQ(settings.ReadInteger("WINDOW", "WIDTH", -1), 1100);
  EXPECT_EQ(settings.ReadInteger("WINDOW", "HEIGHT", -1), 760);

  TForm1& again = Open();
  EXPECT_EQ(again.CableItem(), 0);
  EXPECT_TRUE(again.cbxCOMList->isVisible());
  EXPECT_EQ(again.edLCDcontrast->text().toStdString(), "150");
  EXPECT_TRUE(again.chkIncludeStorageMemory->isChecked());
  EXPECT_FALSE(again.chkDeleteStorageMemory->isChecked());
  EXPECT_TRUE(again.cbxIgnoreMainMemory->isChecked());
  EXPECT_EQ(again.width(), 1100);
  EXPECT_EQ(again.height(), 760);
  EXPECT_EQ(again.GetOptionWord(), OPT_3PIN | OPT_INCLUDE_SMEM | OPT_IGNORE_MAIN_MEMORY);
}

TEST_F(WindowTest, AnInvalidContrastIsStoredEmptyAtClose) {
  TForm1& form = Open();
  form.edLCDcontrast->setText("300");
  form.close();
  EXPECT_EQ(dialogs.Texts(DialogKind::Warning).size(), 1u);
  EXPECT_EQ(Settings().ReadString("LCD_CONTRAST", "ANY_MACHINE", "x"), "");
}

TEST_F(WindowTest, AStoredCableOutsideTheItemsSelectsNoneAndOperationsRefuse) {
  Settings().WriteInteger("PROGRAM", "CABLE", 5);
  TForm1& form = Open();
  EXPECT_EQ(form.CableItem(), -1);
  EXPECT_EQ(form.GetOptionWord() & (OPT_USB | OPT_3PIN), 0);
}

}  // namespace
}  // namespace ostrel::testing

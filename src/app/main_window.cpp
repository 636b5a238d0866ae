// TForm1: creation, showing, activation and closing; the option word; the operation
// states and the enabling of the controls; cable, port, storage-memory and contrast
// handlers.

#include "app/main_window.h"
#include "operations/error_messages.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

#include <charconv>

#include "app/clickable_label.h"
#include "app/qt_text.h"
#include "base/text.h"
#include "env/app_env.h"
#include "link/port_discovery.h"
#include "operations/finish_operation.h"
#include "operations/os_recovery.h"

namespace ostrel {

namespace {

constexpr const char* kProgram = "PROGRAM";
constexpr const char* kContrastSection = "LCD_CONTRAST";
constexpr const char* kContrastKey = "ANY_MACHINE";
constexpr const char* kWindow = "WINDOW";
constexpr const char* kDeveloperCode = "7395";

// The check boxes whose state the settings keep, under the control's own name.
struct TStoredCheckBox {
  const char* key;
  QCheckBox* TForm1::*box;
};
constexpr TStoredCheckBox kStoredCheckBoxes[] = {
    {"chkIncludeStorageMemory", &TForm1::chkIncludeStorageMemory},
    {"chkDeleteStorageMemory", &TForm1::chkDeleteStorageMemory},
    {"cbxIgnoreMainMemory", &TForm1::cbxIgnoreMainMemory},
};

// The contrast text as a number; -1 when it is not one.
int ContrastValue(const std::string& text) {
  const std::string digits = Trim(text);
  int value = -1;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) return -1;
  return value;
}

// Texts of the storage-memory labels, written once when the first key is blank.
void WriteDefaultRecoveryTexts(const TIniFile& settings) {
  settings.WriteString(kProgram, "MSGR00", "Recovery size 0x270000; SMEM deleted");
  settings.WriteString(kProgram, "MSGR01", "Recovery size 0x270000; SMEM untouched");
  settings.WriteString(kProgram, "MSGR10",
                       "if Filesize=0x400000 => SMEM recovered; if Filesize=0x270000 => SMEM untouched");
  settings.WriteString(kProgram, "MSGR11",
                       "if Filesize=0x400000 => SMEM recovered; if Filesize=0x270000 => SMEM deleted");
}

void WriteDefaultBackupTexts(const TIniFile& settings) {
  settings.WriteString(kProgram, "MSGB1F", "Backup filesize: 0x400000; SMEM included");
  settings.WriteString(kProgram, "MSGB0F", "Backup filesize: 0x270000; SMEM not included");
}

}  // namespace

bool DeveloperMode() { return GetEnvOrRegValue("DEVELOP") == kDeveloperCode; }

TForm1::TForm1(TWindowDialogs& dialogs, TWindowLinks links, QWidget* parent)
    : QWidget(parent), dialogs_(dialogs), links_(std::move(links)), operation_start_(std::chrono::steady_clock::now()) {
  CreateControls();
  ConnectHandlers();
  FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::FormCreate() {
  session_active_ = 0;
  const TAppEnv& env = AppEnv();
  setWindowTitle(QString::fromStdString(env.PGetValue("PN") + " " + env.PGetValue("FV") + " " + env.PGetValue("OS")));

  std::vector<std::string> ports;
  std::string chosen;
  if (links_.list_com_ports) {
    links_.list_com_ports(ports, chosen);
  } else {
    ListComPorts(ports, chosen);
  }
  if (ports.empty()) {
    cbxCOMList->hide();
    SetCableItem(1);
    cable_choice_available_ = false;
    rgrpCable->setEnabled(false);
    return;
  }
  for (const std::string& port : ports) cbxCOMList->addItem(QString::fromStdString(port));
  cbxCOMList->setCurrentIndex(cbxCOMList->findText(QString::fromStdString(chosen)));
}

void TForm1::FormShow() {
  const TIniFile settings = SettingsFile();
  const int width = static_cast<int>(settings.ReadInteger(kWindow, "WIDTH", this->width()));
  const int height = static_cast<int>(settings.ReadInteger(kWindow, "HEIGHT", this->height()));
  const int top = static_cast<int>(settings.ReadInteger(kWindow, "TOP", y()));
  const int left = static_cast<int>(settings.ReadInteger(kWindow, "LEFT", x()));
  resize(width, height);
  move(left, top);
}

void TForm1::FormActivate() {
  // Activation comes back after every dialog; while a handler runs, the handler owns the
  // window's state.
  if (operation_running_) return;
  const bool developer = DeveloperMode();
  cbxIgnoreID->setVisible(developer);
  cbxIgnoreChk->setVisible(developer);
  cbxImmediateBuild->setVisible(developer);
  btnBugFix->setVisible(developer);
  if (developer) {
    for (QPushButton* button : {btnUploadNRun, btnTest, BuildProject}) {
      button->setEnabled(true);
      button->show();
    }
  }
  default_folder_ = developer ? "/bats" : "";
  rgrpCable->setVisible(cable_choice_available_);

  StopRequest() = stopNone;
  lblStatus->setText(QStringLiteral("Idle"));

  // The stored choices come into the controls once; later activations keep what the user
  // has set since.
  if (!settings_loaded_) {
    LoadSettingsIntoControls();
    settings_loaded_ = true;
  }
  rgrpCableClick();
  chkIncludeStorageMemoryClick();
  chkDeleteStorageMemoryClick();
  SetOperationState(osIdleAfterActivation);
}

void TForm1::LoadSettingsIntoControls() {
  const TIniFile settings = SettingsFile();
  edLCDcontrast->setText(QString::fromStdString(settings.ReadString(kContrastSection, kContrastKey, "")));
  SetCableItem(static_cast<int>(settings.ReadInteger(kProgram, "CABLE", 1)));
  if (links_.initial_cable) SetCableItem(*links_.initial_cable);
  if (!cable_choice_available_) SetCableItem(1);
  for (const TStoredCheckBox& stored : kStoredCheckBoxes) {
    (this->*stored.box)->setChecked(settings.ReadInteger(kProgram, stored.key, 0) != 0);
  }
  open_dialog_file_ = settings.ReadString(kProgram, "LastRecoveredFile", default_folder_);
  save_dialog_file_ = settings.ReadString(kProgram, "LastSavedFile", default_folder_);
}

void TForm1::FormClose() {
  edLCDcontrastExit();
  const TIniFile settings = SettingsFile();
  settings.WriteInteger(kProgram, "CABLE", CableItem());
  settings.WriteString(kContrastSection, kContrastKey, CoreText(edLCDcontrast->text()));
  const QRect frame = geometry();
  settings.WriteInteger(kWindow, "WIDTH", frame.width());
  settings.WriteInteger(kWindow, "HEIGHT", frame.height());
  settings.WriteInteger(kWindow, "TOP", y());
  settings.WriteInteger(kWindow, "LEFT", x());
  for (const TStoredCheckBox& stored : kStoredCheckBoxes) {
    settings.WriteInteger(kProgram, stored.key, (this->*stored.box)->isChecked() ? 1 : 0);
  }
}

void TForm1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shown_once_) return;
  shown_once_ = true;
  RunGuarded([this] { FormShow(); });
  // Start-up is creation, showing, activation; a desktop without a window manager never
  // activates the window, so the first activation runs here.
  if (!settings_loaded_) RunGuarded([this] { FormActivate(); });
}

void TForm1::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) RunGuarded([this] { FormActivate(); });
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (operation_running_) {
    // The running operation must end through its clean-up first: stop it, close after.
    StopRequest() = stopByUser;
    lblStatus->setText(QStringLiteral("Cancelled!"));
    close_pending_ = true;
    event->ignore();
    return;
  }
  RunGuarded([this] { FormClose(); });
  event->accept();
}

int TForm1::CableItem() const {
  if (rbCable3Pin->isChecked()) return 0;
  if (rbCableUsb->isChecked()) return 1;
  return -1;
}

void TForm1::SetCableItem(int item) {
  // An item index out of range selects nothing, as a radio group does.
  cable_items->setExclusive(false);
  rbCable3Pin->setChecked(item == 0);
  rbCableUsb->setChecked(item == 1);
  cable_items->setExclusive(true);
}

TOptionWord TForm1::GetOptionWord() const {
  TOptionWord options = 0;
  if (CableItem() == 1) options |= OPT_USB;
  if (CableItem() == 0) options |= OPT_3PIN;
  if (cbxIgnoreID->isChecked()) options |= OPT_IGNORE_ID;
  if (cbxIgnoreChk->isChecked()) options |= OPT_IGNORE_CHECKSUM;
  if (cbxIgnoreMainMemory->isChecked()) options |= OPT_IGNORE_MAIN_MEMORY;
  if (chkIncludeStorageMemory->isChecked()) options |= OPT_INCLUDE_SMEM;
  if (chkDeleteStorageMemory->isChecked()) options |= OPT_DELETE_SMEM;
  return options;
}

void TForm1::SetOperationState(int mode) {
  switch (mode) {
    case osBusy:
      StopRequest() = stopNone;
      lblStatus->setText(QStringLiteral("Busy..."));
      memCalcData->show();
      lblCalcData->show();
      memDiagnostic->clear();
      memCalcData->clear();
      memImageData->clear();
      memImageData->show();
      EnableControls(false);
      break;
    case osIdle:
    case osIdleAfterActivation:
      lblStatus->setText(QStringLiteral("Idle..."));
      EnableControls(true);
      break;
    case osBugfix:
    case osBuild:
      // The diagnostics pane takes the place of the calculator pane.
      StopRequest() = stopNone;
      lblStatus->setText(QStringLiteral("Bugfix..."));
      memCalcData->hide();
      lblCalcData->hide();
      memImageData->hide();
      EnableControls(false);
      if (mode == osBuild) {
        lblStatus->setText(QStringLiteral("Build project..."));
        memDiagnostic->clear();
      }
      break;
    default: break;
  }
  if (!DeveloperMode()) {
    btnUploadNRun->hide();
    btnTest->hide();
    BuildProject->hide();
  }
}

void TForm1::EnableControls(bool enable) {
  for (QPushButton* button : findChildren<QPushButton*>()) button->setEnabled(enable);
  btnCancel->setEnabled(!enable);
  edLCDcontrast->setEnabled(enable);
  cbxCOMList->setEnabled(enable);
  edBackupLimit->setEnabled(false);
  edRecoveryLimit->setEnabled(false);
  for (QWidget* control : std::initializer_list<QWidget*>{cbxImmediateBuild, cbxIgnoreID, cbxIgnoreChk,
                                                          chkIncludeStorageMemory, chkDeleteStorageMemory,
                                                          cbxIgnoreMainMemory}) {
    control->setEnabled(enable);
  }
  // Without a serial port the cable choice stays disabled: USB is the only cable.
  rgrpCable->setEnabled(enable && cable_choice_available_);
  ProgressBar1->setValue(0);
  ProgressBar2->setValue(0);
  edCurrentFlashAddress->clear();
  edCurrentRAMAddress->clear();
}

void TForm1::FinishOperation() {
  // The flag is still set when an operation broke off while the calculator was in the
  // middle of a transfer, an erase or a write.
  ostrel::FinishOperation(Ui(), session_active_ == 1);
  session_active_ = 0;
  SetOperationState(osIdle);
}

void TForm1::btnCancelClick() {
  StopRequest() = stopByUser;
  lblStatus->setText(QStringLiteral("Cancelled!"));
}

void TForm1::btnQuitClick() { close(); }

void TForm1::rgrpCableClick() { cbxCOMList->setVisible(CableItem() == 0 && cbxCOMList->count() > 0); }

void TForm1::cbxCOMListChange() {
  if (cbxCOMList->currentIndex() < 0) return;
  SettingsFile().WriteString(kProgram, "COMPORT", CoreText(cbxCOMList->currentText()));
}

void TForm1::chkIncludeStorageMemoryClick() {
  lblSMEMafterOpClick();
  lblFILEafterOpClick();
}

void TForm1::chkDeleteStorageMemoryClick() {
  lblSMEMafterOpClick();
  lblFILEafterOpClick();
}

void TForm1::lblFILEafterOpClick() {
  const bool include = chkIncludeStorageMemory->isChecked();
  const int code = include ? 0x1F : 0x0F;
  edBackupLimit->setText(include ? QStringLiteral("400000") : QStringLiteral("270000"));
  const TIniFile settings = SettingsFile();
  if (IsBlank(settings.ReadString(kProgram, "MSGB1F", ""))) WriteDefaultBackupTexts(settings);
  lblFILEafterOp->setText(QString::fromStdString(settings.ReadString(kProgram, "MSGB" + IntToHex(code, 2), "")));
}

void TForm1::lblSMEMafterOpClick() {
  const bool include = chkIncludeStorageMemory->isChecked();
  const bool erase = chkDeleteStorageMemory->isChecked();
  const int code = include ? (erase ? 0x11 : 0x10) : (erase ? 0x00 : 0x01);
  edRecoveryLimit->setText(include || erase ? QStringLiteral("400000") : QStringLiteral("270000"));
  const TIniFile settings = SettingsFile();
  if (IsBlank(settings.ReadString(kProgram, "MSGR00", ""))) WriteDefaultRecoveryTexts(settings);
  lblSMEMafterOp->setText(QString::fromStdString(settings.ReadString(kProgram, "MSGR" + IntToHex(code, 2), "")));
}

void TForm1::edLCDcontrastExit() {
  if (checking_contrast_) return;  // the warning box takes the focus and ends the edit again
  const std::string text = CoreText(edLCDcontrast->text());
  if (IsBlank(text)) return;
  const int value = ContrastValue(text);
  if (value >= kLowestLcdContrast && value <= kHighestLcdContrast) return;
  checking_contrast_ = true;
  dialogs_.MessageBox(DialogKind::Warning, "Invalid LCD contrast setting. LCD contrast adjustment disabled.",
                      DialogButtons::OK);
  edLCDcontrast->clear();
  checking_contrast_ = false;
}

bool TForm1::RunGuarded(const std::function<void()>& handler) {
  try {
    handler();
    return true;
  } catch (const std::exception& error) {
    // The error's own text, with its cause and what to do where the error's kind says.
    ShowError(DescribeError(error).Line());
  } catch (...) {
    ShowError("Unknown error");
  }
  return false;
}

void TForm1::ShowError(const std::string& text) { dialogs_.MessageBox(DialogKind::Error, text, DialogButtons::OK); }

void TForm1::RunHandler(const std::function<void()>& handler) {
  if (operation_running_) return;
  operation_running_ = true;
  if (!RunGuarded(handler)) FinishOperation();
  operation_running_ = false;
  if (close_pending_) {
    close_pending_ = false;
    close();
  }
}

}  // namespace ostrel

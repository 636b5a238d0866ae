// The window's controls and their arrangement: addresses, progress bars and speed on the
// left top, the status line under them, the button column with cable, port and LCD
// contrast beside it, the options and the storage-memory labels with the limits at the
// bottom, the diagnostics, calculator and image panes on the right. Qt layouts keep this
// arrangement with any font and scaling; the design sizes are the controls' minimums.

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include "app/clickable_label.h"
#include "app/main_window.h"

namespace ostrel {

namespace {

QLineEdit* DisplayEdit(QWidget* parent, int width, const QString& text = {}) {
  auto* edit = new QLineEdit(text, parent);
  edit->setReadOnly(true);
  edit->setMinimumSize(width, 21);
  edit->setFocusPolicy(Qt::NoFocus);
  return edit;
}

QProgressBar* SmoothProgressBar(QWidget* parent) {
  auto* bar = new QProgressBar(parent);
  bar->setRange(0, 100);
  bar->setValue(0);
  bar->setTextVisible(false);
  bar->setMinimumSize(153, 16);
  return bar;
}

QPushButton* Button(QWidget* parent, const QString& caption, int height) {
  auto* button = new QPushButton(caption, parent);
  button->setMinimumSize(145, height);
  return button;
}

QPlainTextEdit* Memo(QWidget* parent, int width, int height) {
  auto* memo = new QPlainTextEdit(parent);
  memo->setReadOnly(true);
  memo->setMinimumSize(width, height);
  memo->setLineWrapMode(QPlainTextEdit::NoWrap);
  return memo;
}

}  // namespace

void TForm1::CreateControls() {
  CreateTransferFields();
  CreateButtons();
  CreateLinkSettings();
  CreateOptionBoxes();
  CreatePanes();
  CreateLimitFields();

  auto* top = new QHBoxLayout;
  top->addLayout(LeftColumnLayout());
  top->addLayout(PanesLayout(), 1);
  auto* window = new QVBoxLayout(this);
  window->addLayout(top, 1);
  window->addLayout(OptionsLayout());

  resize(839, 667);
  move(79, 93);
}

// The addresses, progress bars and speed of a transfer, and the status line.
void TForm1::CreateTransferFields() {
  lblCurrentFlashtarget = new QLabel(QStringLiteral("Current flash address"), this);
  edCurrentFlashAddress = DisplayEdit(this, 153);
  ProgressBar1 = SmoothProgressBar(this);
  lblCurrentRAMtarget = new QLabel(QStringLiteral("Current RAM address"), this);
  edCurrentRAMAddress = DisplayEdit(this, 153);
  ProgressBar2 = SmoothProgressBar(this);
  lblSpeed = new QLabel(QStringLiteral("Speed (bytes/second)"), this);
  edSpeed = DisplayEdit(this, 153);

  lblStatus = new QLabel(QStringLiteral("Idle..."), this);
  QFont status_font = lblStatus->font();
  status_font.setBold(true);
  status_font.setPixelSize(20);
  lblStatus->setFont(status_font);
}

void TForm1::CreateButtons() {
  BuildProject = Button(this, QStringLiteral("Build project"), 26);
  BuildProject->setEnabled(false);
  btnRecover = Button(this, QStringLiteral("Recover flash"), 25);
  btnBackup = Button(this, QStringLiteral("Backup flash"), 25);
  btnBackupRAM = Button(this, QStringLiteral("Backup RAM"), 25);
  btnUploadNRun = Button(this, QStringLiteral("Upload'n'Run"), 26);
  btnUploadNRun->setEnabled(false);
  btnBugFix = Button(this, QStringLiteral("Bugfix"), 26);
  btnTest = Button(this, QStringLiteral("Test"), 25);
  btnTest->setEnabled(false);
  btnQuit = Button(this, QStringLiteral("Quit"), 26);
  btnCancel = Button(this, QStringLiteral("Cancel"), 26);
}

// Cable, serial port and LCD contrast.
void TForm1::CreateLinkSettings() {
  rgrpCable = new QGroupBox(QStringLiteral("Cable"), this);
  rgrpCable->setMinimumSize(105, 73);
  rbCable3Pin = new QRadioButton(QStringLiteral("3Pin"), rgrpCable);
  rbCableUsb = new QRadioButton(QStringLiteral("USB"), rgrpCable);
  cable_items = new QButtonGroup(rgrpCable);
  cable_items->addButton(rbCable3Pin, 0);
  cable_items->addButton(rbCableUsb, 1);
  rbCableUsb->setChecked(true);
  auto* cable_layout = new QVBoxLayout(rgrpCable);
  cable_layout->addWidget(rbCable3Pin);
  cable_layout->addWidget(rbCableUsb);
  rgrpCable->hide();

  cbxCOMList = new QComboBox(this);
  cbxCOMList->setMinimumSize(105, 21);
  cbxCOMList->setSizeAdjustPolicy(QComboBox::AdjustToContents);

  Label4 = new QLabel(QStringLiteral("LCD contrast"), this);
  edLCDcontrast = new QLineEdit(QStringLiteral("   "), this);
  edLCDcontrast->setMaxLength(3);
  edLCDcontrast->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9 ]{0,3}")), edLCDcontrast));
  edLCDcontrast->setMinimumSize(33, 21);
  edLCDcontrast->setMaximumWidth(48);
}

// The option check boxes and the labels that say what an operation does with the file and
// the storage memory.
void TForm1::CreateOptionBoxes() {
  cbxIgnoreMainMemory = new QCheckBox(QStringLiteral("Ignore Main Memory (recover)"), this);
  cbxIgnoreID = new QCheckBox(QStringLiteral("Ignore ID"), this);
  cbxIgnoreID->hide();
  cbxIgnoreChk = new QCheckBox(QStringLiteral("Ignore Checksum"), this);
  cbxIgnoreChk->hide();
  cbxImmediateBuild = new QCheckBox(QStringLiteral("Immediate build"), this);
  chkIncludeStorageMemory = new QCheckBox(QStringLiteral("Include storage memory"), this);
  chkDeleteStorageMemory = new QCheckBox(QStringLiteral("Delete storage memory"), this);
  lblFILEafterOp = new TClickableLabel(this);
  lblSMEMafterOp = new TClickableLabel(this);
}

// Diagnostics, calculator data and image data.
void TForm1::CreatePanes() {
  Label1 = new QLabel(QStringLiteral("Diagnostics output"), this);
  memDiagnostic = Memo(this, 273, 289);
  lblCalcData = new QLabel(QStringLiteral("Calculator data"), this);
  memCalcData = Memo(this, 225, 289);
  Label2 = new QLabel(QStringLiteral("Image data"), this);
  memImageData = Memo(this, 513, 217);
}

void TForm1::CreateLimitFields() {
  Label3 = new QLabel(QStringLiteral("Backup limit (hex)"), this);
  edBackupLimit = DisplayEdit(this, 105, QStringLiteral("270000"));
  edBackupLimit->setEnabled(false);
  lblRecoverLimit = new QLabel(QStringLiteral("Recover limit (hex)"), this);
  edRecoveryLimit = DisplayEdit(this, 105, QStringLiteral("270000"));
  edRecoveryLimit->setEnabled(false);
}

// The transfer fields over the status line over the button column, with cable, port and
// LCD contrast beside the buttons.
QLayout* TForm1::LeftColumnLayout() {
  auto* transfer = new QGridLayout;
  transfer->addWidget(lblCurrentFlashtarget, 0, 0);
  transfer->addWidget(edCurrentFlashAddress, 0, 1);
  transfer->addWidget(ProgressBar1, 1, 1);
  transfer->addWidget(lblCurrentRAMtarget, 2, 0);
  transfer->addWidget(edCurrentRAMAddress, 2, 1);
  transfer->addWidget(ProgressBar2, 3, 1);
  transfer->addWidget(lblSpeed, 4, 0);
  transfer->addWidget(edSpeed, 4, 1);

  // The button column, with cable, port and LCD contrast beside it.
  auto* controls = new QGridLayout;
  QPushButton* column[] = {BuildProject, btnRecover, btnBackup, btnBackupRAM, nullptr,
                           btnUploadNRun, btnBugFix, btnTest, btnQuit, btnCancel};
  for (int row = 0; row < 10; ++row) {
    if (column[row]) {
      controls->addWidget(column[row], row, 0);
    } else {
      controls->setRowMinimumHeight(row, 12);
    }
  }
  controls->addWidget(rgrpCable, 1, 1, 3, 1);
  controls->addWidget(cbxCOMList, 4, 1, 2, 1, Qt::AlignTop);
  auto* contrast = new QHBoxLayout;
  contrast->addWidget(Label4);
  contrast->addWidget(edLCDcontrast);
  controls->addLayout(contrast, 6, 1);
  controls->setColumnStretch(2, 1);

  auto* left = new QVBoxLayout;
  left->addLayout(transfer);
  left->addWidget(lblStatus);
  left->addLayout(controls);
  left->addStretch(1);
  return left;
}

QLayout* TForm1::PanesLayout() {
  auto* panes = new QGridLayout;
  panes->addWidget(Label1, 0, 0);
  panes->addWidget(lblCalcData, 0, 1);
  panes->addWidget(memDiagnostic, 1, 0);
  panes->addWidget(memCalcData, 1, 1);
  panes->addWidget(Label2, 2, 0, 1, 2);
  panes->addWidget(memImageData, 3, 0, 1, 2);
  panes->setRowStretch(1, 4);
  panes->setRowStretch(3, 3);
  panes->setColumnStretch(0, 5);
  panes->setColumnStretch(1, 4);
  return panes;
}

// Check boxes, what the operations do with the storage memory, the size limits.
QLayout* TForm1::OptionsLayout() {
  auto* options = new QGridLayout;
  QCheckBox* boxes[] = {cbxIgnoreMainMemory, cbxIgnoreID, cbxIgnoreChk, cbxImmediateBuild,
                        chkIncludeStorageMemory, chkDeleteStorageMemory};
  for (int row = 0; row < 6; ++row) options->addWidget(boxes[row], row, 0);
  options->addWidget(lblFILEafterOp, 4, 1);
  options->addWidget(lblSMEMafterOp, 5, 1);
  options->addWidget(Label3, 4, 2);
  options->addWidget(edBackupLimit, 4, 3);
  options->addWidget(lblRecoverLimit, 5, 2);
  options->addWidget(edRecoveryLimit, 5, 3);
  options->setColumnStretch(1, 1);
  options->setVerticalSpacing(2);
  return options;
}

void TForm1::ConnectHandlers() {
  // Every handler runs guarded: an error leaving it is shown, never passed into Qt.
  const auto on = [this](auto* sender, auto signal, void (TForm1::*handler)()) {
    connect(sender, signal, this, [this, handler] { RunGuarded([this, handler] { (this->*handler)(); }); });
  };
  on(btnBackup, &QPushButton::clicked, &TForm1::btnBackupClick);
  on(btnBackupRAM, &QPushButton::clicked, &TForm1::btnBackupRAMClick);
  on(btnRecover, &QPushButton::clicked, &TForm1::btnRecoverClick);
  on(btnUploadNRun, &QPushButton::clicked, &TForm1::btnUploadNRunClick);
  on(btnBugFix, &QPushButton::clicked, &TForm1::btnBugFixClick);
  on(BuildProject, &QPushButton::clicked, &TForm1::BuildProjectClick);
  on(btnTest, &QPushButton::clicked, &TForm1::btnTestClick);
  on(btnQuit, &QPushButton::clicked, &TForm1::btnQuitClick);
  on(btnCancel, &QPushButton::clicked, &TForm1::btnCancelClick);
  on(cbxCOMList, &QComboBox::activated, &TForm1::cbxCOMListChange);
  on(rbCable3Pin, &QRadioButton::clicked, &TForm1::rgrpCableClick);
  on(rbCableUsb, &QRadioButton::clicked, &TForm1::rgrpCableClick);
  on(chkIncludeStorageMemory, &QCheckBox::clicked, &TForm1::chkIncludeStorageMemoryClick);
  on(chkDeleteStorageMemory, &QCheckBox::clicked, &TForm1::chkDeleteStorageMemoryClick);
  on(edLCDcontrast, &QLineEdit::editingFinished, &TForm1::edLCDcontrastExit);
  lblSMEMafterOp->SetOnClick([this] { RunGuarded([this] { lblSMEMafterOpClick(); }); });
  lblFILEafterOp->SetOnClick([this] { RunGuarded([this] { lblFILEafterOpClick(); }); });
}

}  // namespace ostrel

#pragma once
// TForm1: the program's one window. The user picks the cable, the port and the options
// and starts each operation with a button; the operation reports back through this
// window's notification handler (TNotifier) and asks through its dialogs.
//
// Every button handler has one frame: busy state, a file dialog primed from the settings,
// the choice written back, the operation start time, the operation, its result boxes and
// FinishOperation (a pending stop reported, idle again). An error raised inside an
// operation is shown in one error box and the window is idle again right afterwards.
//
// Operations run on the window's thread; they let pending window messages run after every
// notification, so the window redraws and the Cancel button works while they run.

#include <QWidget>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/window_dialogs.h"
#include "env/operation_status.h"
#include "env/options.h"
#include "operations/os_recovery.h"
#include "protocol/fx9860sio.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLayout;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace ostrel {

class TClickableLabel;

// Where the window's operations find the calculator.
struct TWindowLinks {
  // Fills the COM port list and names the configured port; ListComPorts when empty.
  std::function<void(std::vector<std::string>& ports, std::string& chosen)> list_com_ports;
  // Overrides for the operations' link (a simulated calculator's endpoints); empty: the
  // settings' COMPORT and the USB device search.
  TLinkTarget target;
  // The program recovery uploads; empty: the settings' RECOVERY_HELPER or the carried one.
  std::string recovery_helper;
  // The cable item to select at the first activation instead of the settings' CABLE.
  std::optional<int> initial_cable;
};

// Operation states of SetOperationState.
enum OperationState : int { osBusy = 0, osIdle = 1, osIdleAfterActivation = 2, osBugfix = 3, osBuild = 4 };

// The developer-mode switch: DEVELOP = "7395" (environment, else registry), looked up anew.
bool DeveloperMode();

class TForm1 : public QWidget, public TNotifier {
 public:
  TForm1(TWindowDialogs& dialogs, TWindowLinks links, QWidget* parent = nullptr);
  ~TForm1() override;

  // ---- the window's life ----
  void FormCreate();
  void FormShow();
  void FormActivate();
  void FormClose();

  TOptionWord GetOptionWord() const;
  void SetOperationState(int mode);
  void EnableControls(bool enable);
  void FinishOperation();

  // ---- handlers ----
  void btnBackupClick();
  void btnBackupRAMClick();
  void btnRecoverClick();
  void btnUploadNRunClick();
  void btnBugFixClick();
  void BuildProjectClick();
  void btnTestClick();
  void btnQuitClick();
  void btnCancelClick();
  void cbxCOMListChange();
  void rgrpCableClick();
  void chkIncludeStorageMemoryClick();
  void chkDeleteStorageMemoryClick();
  void lblSMEMafterOpClick();
  void lblFILEafterOpClick();
  void edLCDcontrastExit();

  // ---- notifications ----
  int Notify(NotifyCode code, std::int64_t value) override;
  int Notify(NotifyCode code, const std::string& text) override;
  void ProcessMessages() override;
  TUserInterface Ui() { return TUserInterface{this, &dialogs_}; }

  // A button handler is running.
  bool OperationRunning() const { return operation_running_; }
  std::uint8_t SessionActive() const { return session_active_; }
  // The selected cable item: 0 "3Pin", 1 "USB", -1 none.
  int CableItem() const;
  void SetCableItem(int item);

  // ---- controls ----
  QLabel* lblCurrentFlashtarget = nullptr;
  QLineEdit* edCurrentFlashAddress = nullptr;
  QProgressBar* ProgressBar1 = nullptr;
  QLabel* lblCurrentRAMtarget = nullptr;
  QLineEdit* edCurrentRAMAddress = nullptr;
  QProgressBar* ProgressBar2 = nullptr;
  QLabel* lblSpeed = nullptr;
  QLineEdit* edSpeed = nullptr;
  QLabel* lblStatus = nullptr;
  QPushButton* BuildProject = nullptr;
  QPushButton* btnRecover = nullptr;
  QPushButton* btnBackup = nullptr;
  QPushButton* btnBackupRAM = nullptr;
  QPushButton* btnUploadNRun = nullptr;
  QPushButton* btnBugFix = nullptr;
  QPushButton* btnTest = nullptr;
  QPushButton* btnQuit = nullptr;
  QPushButton* btnCancel = nullptr;
  QGroupBox* rgrpCable = nullptr;
  QRadioButton* rbCable3Pin = nullptr;
  QRadioButton* rbCableUsb = nullptr;
  QButtonGroup* cable_items = nullptr;
  QComboBox* cbxCOMList = nullptr;
  QLabel* Label4 = nullptr;
  QLineEdit* edLCDcontrast = nullptr;
  QCheckBox* cbxIgnoreMainMemory = nullptr;
  QCheckBox* cbxIgnoreID = nullptr;
  QCheckBox* cbxIgnoreChk = nullptr;
  QCheckBox* cbxImmediateBuild = nullptr;
  QCheckBox* chkIncludeStorageMemory = nullptr;
  QCheckBox* chkDeleteStorageMemory = nullptr;
  TClickableLabel* lblFILEafterOp = nullptr;
  TClickableLabel* lblSMEMafterOp = nullptr;
  QLabel* Label1 = nullptr;
  QPlainTextEdit* memDiagnostic = nullptr;
  QLabel* lblCalcData = nullptr;
  QPlainTextEdit* memCalcData = nullptr;
  QLabel* Label2 = nullptr;
  QPlainTextEdit* memImageData = nullptr;
  QLabel* Label3 = nullptr;
  QLineEdit* edBackupLimit = nullptr;
  QLabel* lblRecoverLimit = nullptr;
  QLineEdit* edRecoveryLimit = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  // main_window_layout.cpp
  void CreateControls();
  void CreateTransferFields();
  void CreateButtons();
  void CreateLinkSettings();
  void CreateOptionBoxes();
  void CreatePanes();
  void CreateLimitFields();
  QLayout* LeftColumnLayout();
  QLayout* PanesLayout();
  QLayout* OptionsLayout();
  void ConnectHandlers();

  // Runs a button handler: one at a time; an error leaving it is shown in the error box
  // and the window returns to idle.
  void RunHandler(const std::function<void()>& handler);
  // Runs any other handler; an error leaving it is shown in the error box (false then).
  bool RunGuarded(const std::function<void()>& handler);
  // The frame of both backup buttons: busy, the save dialog, the choice and the cable
  // written, the start time, the backup, FinishOperation.
  void RunBackupHandler(const std::string& filter, const std::string& file_name, const std::string& extension,
                        const std::function<void(const std::string& file, TOptionWord options)>& backup);
  void ShowError(const std::string& text);
  // The file dialog of a handler; nothing when cancelled.
  std::optional<std::string> ChooseFile(TFileDialogRequest::Kind kind, const std::string& filter,
                                        const std::string& file_name, const std::string& extension);
  void StartOperationClock();
  TRecoverySetup RecoverySetup() const;
  // The frame of Recover flash and Upload'n'Run (one operation, two paths).
  void RunRecoveryHandler(bool upload);
  // An operation's result box (none for an empty text), then the status "Idle...".
  void ShowResultBox(const std::string& message);
  void WriteCable() const;
  void AppendDiagnosticLine(const std::string& text);
  void LoadSettingsIntoControls();

  TWindowDialogs& dialogs_;
  TWindowLinks links_;
  std::chrono::steady_clock::time_point operation_start_;
  std::chrono::steady_clock::time_point last_messages_run_{};
  std::uint8_t session_active_ = 0;
  bool operation_running_ = false;
  bool close_pending_ = false;
  bool shown_once_ = false;
  bool settings_loaded_ = false;
  bool checking_contrast_ = false;
  // False when the machine has no serial port: the cable stays USB.
  bool cable_choice_available_ = true;
  std::string default_folder_;
  // The file names the open and save dialogs start with (they keep the last choice).
  std::string open_dialog_file_;
  std::string save_dialog_file_;
};

}  // namespace ostrel

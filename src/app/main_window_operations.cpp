// The operation buttons. Each handler runs in one frame: busy state, the file dialog
// primed from the settings, the choice written back, the operation start time, the
// operation itself through the same calls as the command line, its result boxes and
// FinishOperation.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include <filesystem>

#include "app/device_control_test.h"
#include "app/main_window.h"
#include "app/qt_text.h"
#include "env/app_env.h"
#include "operations/backup.h"
#include "operations/os_recovery.h"
#include "patch/fx9860g_file.h"
#include "project/project.h"

namespace ostrel {

namespace {

constexpr const char* kProgram = "PROGRAM";
constexpr const char* kFlashImageFilter = "Flash-image|*.fls;*.G1S;*.bin";

}  // namespace

std::optional<std::string> TForm1::ChooseFile(TFileDialogRequest::Kind kind, const std::string& filter,
                                              const std::string& file_name, const std::string& extension) {
  TFileDialogRequest request;
  request.kind = kind;
  request.filter = filter;
  request.file_name = file_name;
  request.default_extension = extension;
  std::optional<std::string> chosen = dialogs_.ChooseFile(request);
  if (chosen) (kind == TFileDialogRequest::Kind::Save ? save_dialog_file_ : open_dialog_file_) = *chosen;
  return chosen;
}

void TForm1::WriteCable() const { SettingsFile().WriteInteger(kProgram, "CABLE", CableItem()); }

void TForm1::RunBackupHandler(const std::string& filter, const std::string& file_name, const std::string& extension,
                              const std::function<void(const std::string& file, TOptionWord options)>& backup) {
  RunHandler([&] {
    SetOperationState(osBusy);
    const TOptionWord options = GetOptionWord();
    const std::optional<std::string> file = ChooseFile(TFileDialogRequest::Kind::Save, filter, file_name, extension);
    if (file) {
      SettingsFile().WriteString(kProgram, "LastSavedFile", *file);
      WriteCable();
      StartOperationClock();
      backup(*file, options);
    }
    FinishOperation();
  });
}

void TForm1::btnBackupClick() {
  RunBackupHandler(kFlashImageFilter, SettingsFile().ReadString(kProgram, "LastSavedFile", ""), "fls",
                   [this](const std::string& file, TOptionWord options) {
                     // The written image is checked; a failed check shows its own box.
                     RunFlashBackup(file, options, Ui(), links_.target);
                   });
}

void TForm1::btnBackupRAMClick() {
  // The save dialog keeps the name it had; a name without extension becomes a .RAM file.
  RunBackupHandler("RAM-image|*.RAM", save_dialog_file_, "RAM", [this](const std::string& file, TOptionWord options) {
    RunRamBackup(file, options, Ui(), links_.target);
  });
}

TRecoverySetup TForm1::RecoverySetup() const {
  TRecoverySetup setup;
  setup.target = links_.target;
  setup.helper_program = links_.recovery_helper;
  return setup;
}

void TForm1::ShowResultBox(const std::string& message) {
  if (message.empty()) return;
  dialogs_.MessageBox(DialogKind::Error, message, DialogButtons::OK);
  lblStatus->setText(QStringLiteral("Idle..."));
}

void TForm1::RunRecoveryHandler(bool upload) {
  RunHandler([this, upload] {
    SetOperationState(osBusy);
    // Upload'n'Run takes only the cable and the upload bit: no option of the recovery applies.
    TOptionWord options = GetOptionWord();
    if (upload) options = OPT_UPLOAD_AND_RUN | (options & (OPT_USB | OPT_3PIN));
    const char* key = upload ? "LastUploadedFile" : "LastRecoveredFile";
    const std::optional<std::string> file =
        ChooseFile(TFileDialogRequest::Kind::Open, upload ? "SHX-binary|*.BIN;*.SH3;*.SH4" : kFlashImageFilter,
                   SettingsFile().ReadString(kProgram, key, ""), upload ? "BIN" : "fls");
    if (file) {
      SettingsFile().WriteString(kProgram, key, *file);
      WriteCable();
      // The recovery reads the contrast now shown.
      if (!upload) SettingsFile().WriteString("LCD_CONTRAST", "ANY_MACHINE", CoreText(edLCDcontrast->text()));
      StartOperationClock();
      const std::uint8_t result = FXOSRecovery(*file, options, Ui(), RecoverySetup());
      ShowResultBox(upload ? UploadResultMessage(result, *file) : RecoveryResultMessage(result, *file));
    }
    FinishOperation();
  });
}

void TForm1::btnRecoverClick() { RunRecoveryHandler(false); }

void TForm1::btnUploadNRunClick() { RunRecoveryHandler(true); }

void TForm1::BuildProjectClick() {
  RunHandler([this] {
    SetOperationState(osBuild);
    bool run = true;
    // An immediate build takes the last project without asking, when it still exists.
    std::string project = SettingsFile().ReadString(kProgram, "LastProject", "");
    std::error_code missing;
    const bool immediate = cbxImmediateBuild->isChecked() && std::filesystem::is_regular_file(project, missing);
    if (!immediate) {
      const std::optional<std::string> chosen =
          ChooseFile(TFileDialogRequest::Kind::Open, "fxCG-project|*.PRJ", project, "PRJ");
      if (chosen) {
        ProcessMessages();
        project = *chosen;
      } else {
        run = false;
      }
    }
    if (run) {
      AppendDiagnosticLine("Execute: " + project);
      SettingsFile().WriteString(kProgram, "LastProject", project);
      TProject builder(Ui());
      builder.RunScript(project);
      AppendDiagnosticLine("Ready");
    }
    FinishOperation();
  });
}

void TForm1::btnBugFixClick() {
  RunHandler([this] {
    SetOperationState(osBugfix);
    const std::optional<std::string> file =
        ChooseFile(TFileDialogRequest::Kind::Open, "bugfix script|*.PSC",
                   SettingsFile().ReadString(kProgram, "LastBugfixFile", ""), "PSC");
    if (file) {
      SettingsFile().WriteString(kProgram, "LastBugfixFile", *file);
      StartOperationClock();
      const TFX9860GFile bugfix(*file);
      bugfix.RunBugfix(Ui());
    }
    FinishOperation();
  });
}

void TForm1::btnTestClick() {
  RunHandler([this] {
    SetOperationState(osBusy);
    const std::string device = SettingsFile().ReadString(kProgram, "TESTDEVICE", links_.target.usb_device.value_or(""));
    RunDeviceControlTest(Ui(), device);
    FinishOperation();
  });
}

}  // namespace ostrel

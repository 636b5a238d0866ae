#include "app/widget_dialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QStringList>

#include "app/qt_text.h"

namespace ostrel {

namespace {

QMessageBox::Icon IconOf(DialogKind kind) {
  switch (kind) {
    case DialogKind::Information: return QMessageBox::Information;
    case DialogKind::Warning: return QMessageBox::Warning;
    case DialogKind::Error: return QMessageBox::Critical;
    case DialogKind::Confirmation: return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

QString TitleOf(DialogKind kind) {
  switch (kind) {
    case DialogKind::Information: return QStringLiteral("Information");
    case DialogKind::Warning: return QStringLiteral("Warning");
    case DialogKind::Error: return QStringLiteral("Error");
    case DialogKind::Confirmation: return QStringLiteral("Confirm");
  }
  return {};
}

}  // namespace

QString QtFileFilter(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    filters << parts[i] + QStringLiteral(" (") + patterns + QLatin1Char(')');
  }
  return filters.join(QStringLiteral(";;"));
}

DialogResult TWidgetDialogs::MessageBox(DialogKind kind, const std::string& text, DialogButtons buttons) {
  QMessageBox box(IconOf(kind), TitleOf(kind), DisplayText(text), QMessageBox::NoButton, parent_);
  switch (buttons) {
    case DialogButtons::OK: box.setStandardButtons(QMessageBox::Ok); break;
    case DialogButtons::OKCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case DialogButtons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
  }
  switch (box.exec()) {
    case QMessageBox::Ok: return mrOK;
    case QMessageBox::Yes: return mrYes;
    case QMessageBox::No: return mrNo;
    case QMessageBox::Cancel: return mrCancel;
    default: break;
  }
  // Closed with Escape or the title bar: the negative answer.
  switch (buttons) {
    case DialogButtons::OK: return mrOK;
    case DialogButtons::OKCancel: return mrCancel;
    case DialogButtons::YesNo: return mrNo;
  }
  return mrNone;
}

std::optional<std::string> TWidgetDialogs::InputBox(const std::string& caption, const std::string& prompt,
                                                    const std::string& default_value) {
  bool accepted = false;
  const QString value = QInputDialog::getText(parent_, DisplayText(caption), DisplayText(prompt), QLineEdit::Normal,
                                              QString::fromStdString(default_value), &accepted);
  if (!accepted) return std::nullopt;
  return CoreText(value);
}

std::optional<std::string> TWidgetDialogs::ChooseFile(const TFileDialogRequest& request) {
  QFileDialog dialog(parent_);
  const bool save = request.kind == TFileDialogRequest::Kind::Save;
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setNameFilter(QtFileFilter(request.filter));
  dialog.setDefaultSuffix(QString::fromStdString(request.default_extension));
  const QFileInfo start(QString::fromStdString(request.file_name));
  if (!request.file_name.empty()) {
    if (start.isDir()) {
      dialog.setDirectory(start.absoluteFilePath());
    } else {
      dialog.setDirectory(start.absolutePath());
      dialog.selectFile(start.fileName());
    }
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return CoreText(dialog.selectedFiles().first());
}

}  // namespace ostrel

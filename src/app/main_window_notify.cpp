// The window's notification handler: how an operation's reports show in the window.

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTextBlock>

#include <algorithm>
#include <climits>

#include "app/main_window.h"
#include "app/qt_text.h"
#include "patch/date_time_format.h"

namespace ostrel {

namespace {

// The diagnostics pane is cleared before it would hold more than this many lines.
constexpr int kMaximumDiagnosticLines = 1000;
// Pending window messages run at most this often while an operation runs.
constexpr std::chrono::milliseconds kMessagesInterval{20};

int ClampToInt(std::int64_t value) {
  return static_cast<int>(std::clamp<std::int64_t>(value, INT_MIN, INT_MAX));
}

void SetProgressMaximum(QProgressBar* bar, std::int64_t maximum) {
  bar->setMaximum(std::max(ClampToInt(maximum), bar->minimum()));
}

// A position beyond the bar's range shows as the nearest end.
void SetProgressPosition(QProgressBar* bar, std::int64_t position) {
  bar->setValue(std::clamp(ClampToInt(position), bar->minimum(), bar->maximum()));
}

// An address as at least eight upper-case hexadecimal digits.
QString AddressText(std::int64_t value) {
  return QStringLiteral("%1").arg(static_cast<qulonglong>(value), 8, 16, QLatin1Char('0')).toUpper();
}

int LineCount(const QPlainTextEdit* memo) { return memo->document()->isEmpty() ? 0 : memo->blockCount(); }

}  // namespace

void TForm1::AppendDiagnosticLine(const std::string& text) {
  if (LineCount(memDiagnostic) >= kMaximumDiagnosticLines) memDiagnostic->clear();
  memDiagnostic->appendPlainText(DisplayText(text));
}

int TForm1::Notify(NotifyCode code, std::int64_t value) {
  switch (code) {
    case nfProgressMax: SetProgressMaximum(ProgressBar1, value); break;
    case nfProgressPos: SetProgressPosition(ProgressBar1, value); break;
    case nfBlockProgressMax: SetProgressMaximum(ProgressBar2, value); break;
    case nfBlockProgressPos: SetProgressPosition(ProgressBar2, value); break;
    case nfLogClear: memDiagnostic->clear(); break;
    case nfFlashAddress: edCurrentFlashAddress->setText(AddressText(value)); break;
    case nfRAMAddress: edCurrentRAMAddress->setText(AddressText(value)); break;
    case nfSessionActive: session_active_ = static_cast<std::uint8_t>(value & 0xFF); break;
    case nfLCDContrast: edLCDcontrast->setText(QString::number(value)); break;
    default: break;
  }
  return 0;
}

int TForm1::Notify(NotifyCode code, const std::string& text) {
  switch (code) {
    case nfLogLine: {
      const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                                 operation_start_);
      AppendDiagnosticLine(FormatElapsedTime(elapsed.count()) + ":" + text);
      break;
    }
    case nfLogLineRaw: AppendDiagnosticLine(text); break;
    case nfLogClear: memDiagnostic->clear(); break;
    case nfInfoBox: dialogs_.MessageBox(DialogKind::Information, text, DialogButtons::OK); break;
    case nfErrorBox: dialogs_.MessageBox(DialogKind::Error, text, DialogButtons::OK); break;
    case nfConfirmBox: return dialogs_.MessageBox(DialogKind::Confirmation, text, DialogButtons::OKCancel);
    case nfWarningBox: return dialogs_.MessageBox(DialogKind::Warning, text, DialogButtons::OKCancel);
    case nfStatus: lblStatus->setText(DisplayText(text)); break;
    case nfCalcData: memCalcData->setPlainText(DisplayText(text)); break;
    case nfImageData: memImageData->setPlainText(DisplayText(text)); break;
    case nfSpeed: edSpeed->setText(DisplayText(text)); break;
    default: break;
  }
  return 0;
}

void TForm1::ProcessMessages() {
  // Operations call this after every notification, thousands of times per transfer; the
  // window is redrawn and the Cancel button seen often enough at a few dozen rounds a
  // second, and the transfer is not slowed down by drawing every block.
  const auto now = std::chrono::steady_clock::now();
  if (now - last_messages_run_ < kMessagesInterval) return;
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  last_messages_run_ = std::chrono::steady_clock::now();
}

void TForm1::StartOperationClock() { operation_start_ = std::chrono::steady_clock::now(); }

}  // namespace ostrel

#include "cli/terminal_ui.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <iostream>
#include <string_view>

#include "base/text.h"
#include "env/transfer_figures.h"

namespace ostrel::cli {

namespace {

constexpr int kBarWidth = 30;
constexpr int kPollMilliseconds = 200;
// A progress bar redrawn more often than this only adds escape codes to the terminal.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

// The window's memos take CR LF lines; the terminal wants LF. The image pane's title line
// "Imagename: " stands above the name there; here the name follows on the same line.
std::string ToTerminalLines(const std::string& text) {
  std::string result = ReplaceAll(text, "\r\n", "\n");
  constexpr std::string_view kImageTitle = "Imagename: \n";
  if (result.starts_with(kImageTitle)) result.erase(kImageTitle.size() - 1, 1);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) result.pop_back();
  return result;
}

// The image check shows the OS version alone in the image pane while it reads the image;
// on the terminal the line says what it is.
bool IsOsVersionText(const std::string& text) {
  static constexpr std::string_view kShape = "NN.NN.NNNN";
  if (text.size() != kShape.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kShape[i] == 'N' ? !digit : text[i] != kShape[i]) return false;
  }
  return true;
}

bool IsYesWord(const std::string& answer) {
  std::string word = Trim(answer);
  return SameText(word, "y") || SameText(word, "yes") || SameText(word, "o") || SameText(word, "ok");
}

std::string Hex8(std::int64_t value) { return IntToHex(static_cast<std::uint64_t>(value), 8); }

void OnInterrupt(int) {
  // Lock-free atomic store: safe in a signal handler.
  StopRequest().store(stopByUser);
}

}  // namespace

TTerminalStreams TTerminalStreams::Process() {
  TTerminalStreams streams;
  streams.out = &std::cerr;
  streams.input_fd = STDIN_FILENO;
  streams.input_is_terminal = ::isatty(STDIN_FILENO) == 1;
  streams.output_is_terminal = ::isatty(STDERR_FILENO) == 1;
  return streams;
}

TTerminalUi::TTerminalUi(TTerminalOptions options)
    : TTerminalUi(options, TTerminalStreams::Process()) {}

TTerminalUi::TTerminalUi(TTerminalOptions options, TTerminalStreams streams)
    : options_(options), streams_(streams), start_(std::chrono::steady_clock::now()) {}

TTerminalUi::~TTerminalUi() {
  try {
    FinishProgress();
  } catch (...) {
    // Output failures at the end are of no consequence.
  }
}

std::ostream& TTerminalUi::Out() { return streams_.out ? *streams_.out : std::cerr; }

void TTerminalUi::StartOperation() {
  start_ = std::chrono::steady_clock::now();
  session_active_ = false;
  StartProgressRun(0);
}

void TTerminalUi::StartProgressRun(std::int64_t maximum) {
  progress_max_ = maximum;
  progress_start_ = std::chrono::steady_clock::now();
  last_draw_.reset();
  progress_pos_ = 0;
  last_reported_step_ = -1;
  flash_address_.reset();
  ram_address_.reset();
  speed_.clear();
}

void TTerminalUi::CompleteProgress() {
  if (progress_max_ <= 0) return;
  progress_pos_ = progress_max_;
  UpdateProgress();
}

void TTerminalUi::FinishProgress() {
  if (bar_shown_) {
    Out() << '\n' << std::flush;
    bar_shown_ = false;
  }
}

std::string TTerminalUi::ElapsedPrefix() const {
  auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_);
  return FormatElapsed(elapsed) + ":";
}

void TTerminalUi::ClearProgressBar() {
  if (bar_shown_) {
    Out() << "\r\033[K";
    bar_shown_ = false;
  }
}

void TTerminalUi::PrintLine(const std::string& text) {
  ClearProgressBar();
  Out() << text << '\n' << std::flush;
}

void TTerminalUi::PrintText(const std::string& text) {
  std::string lines = ToTerminalLines(text);
  if (!lines.empty()) PrintLine(lines);
}

void TTerminalUi::ShowTransientLine(const std::string& text) {
  // On a terminal, while no progress bar is drawn, the latest diagnostics line stands in
  // one line that the next output overwrites: a wait (a calculator not yet in receive
  // mode, a silent line) is visible without the full diagnostics stream.
  if (options_.quiet || !streams_.output_is_terminal || progress_max_ > 0) return;
  std::string line = text.substr(0, std::min<std::size_t>(text.size(), 78));
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  }
  Out() << "\r" << line << "\033[K" << std::flush;
  bar_shown_ = true;
}

void TTerminalUi::DrawProgressBar() {
  std::string line = "\r";
  if (progress_max_ > 0) {
    std::int64_t pos = std::clamp<std::int64_t>(progress_pos_, 0, progress_max_);
    int filled = static_cast<int>(pos * kBarWidth / progress_max_);
    int percent = static_cast<int>(pos * 100 / progress_max_);
    line.append("[").append(filled, '#').append(kBarWidth - filled, '-').append("] ");
    char percent_text[8];
    std::snprintf(percent_text, sizeof percent_text, "%3d%%", percent);
    line.append(percent_text);
  }
  if (flash_address_) line.append("  ").append(Hex8(*flash_address_));
  if (ram_address_) line.append("  RAM ").append(Hex8(*ram_address_));
  if (!speed_.empty()) line.append("  ").append(SpeedText());
  Out() << line << "\033[K" << std::flush;
  bar_shown_ = true;
  last_draw_ = std::chrono::steady_clock::now();
}

bool TTerminalUi::RedrawDue() const {
  if (!last_draw_ || !bar_shown_) return true;
  if (progress_max_ > 0 && progress_pos_ >= progress_max_) return true;
  return std::chrono::steady_clock::now() - *last_draw_ >= kRedrawInterval;
}

std::string TTerminalUi::SpeedText() const {
  const std::optional<TTransferFigures> figures = ParseTransferFigures(speed_);
  if (!figures) return speed_;
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - progress_start_).count();
  return TransferFiguresText(*figures, SecondsLeft(progress_pos_, progress_max_, elapsed));
}

void TTerminalUi::UpdateProgress() {
  if (options_.quiet) return;
  if (streams_.output_is_terminal) {
    if (RedrawDue()) DrawProgressBar();
    return;
  }
  // Without a terminal: one line per 10 percent.
  if (progress_max_ <= 0) return;
  std::int64_t pos = std::clamp<std::int64_t>(progress_pos_, 0, progress_max_);
  std::int64_t step = pos * 10 / progress_max_;
  if (step == last_reported_step_) return;
  // The bar going back to 0 within a run is its reset after the work, not a step of it.
  if (pos == 0 && last_reported_step_ > 0) return;
  last_reported_step_ = step;
  std::string line = "Progress: " + std::to_string(step * 10) + "%";
  if (flash_address_) line += " at " + Hex8(*flash_address_);
  if (!speed_.empty()) line += " (" + SpeedText() + ")";
  PrintLine(line);
}

int TTerminalUi::Notify(NotifyCode code, std::int64_t value) {
  switch (code) {
    case nfProgressMax:
      StartProgressRun(value);
      break;
    case nfProgressPos:
      progress_pos_ = value;
      UpdateProgress();
      break;
    case nfFlashAddress:
      flash_address_ = value;
      if (streams_.output_is_terminal) UpdateProgress();
      break;
    case nfRAMAddress:
      ram_address_ = value;
      if (streams_.output_is_terminal) UpdateProgress();
      break;
    case nfLCDContrast:
      if (!options_.quiet) PrintLine("LCD contrast: " + std::to_string(value));
      break;
    case nfSessionActive:
      session_active_ = (value & 0xFF) == 1;
      break;
    default:
      // Block progress and unknown codes are not shown.
      break;
  }
  return 0;
}

int TTerminalUi::Notify(NotifyCode code, const std::string& text) {
  switch (code) {
    case nfLogLine:
      if (options_.verbose) {
        PrintLine(ElapsedPrefix() + text);
      } else {
        ShowTransientLine(text);
      }
      return 0;
    case nfLogLineRaw:
      if (options_.verbose) PrintLine(text);
      return 0;
    case nfStatus:
      if (!options_.quiet && text != status_) PrintLine(text);
      status_ = text;
      return 0;
    case nfSpeed:
      speed_ = text;
      if (!options_.quiet && streams_.output_is_terminal && bar_shown_ && RedrawDue()) DrawProgressBar();
      return 0;
    case nfCalcData:
      if (!options_.quiet) PrintText(text);
      return 0;
    case nfImageData:
      if (!options_.quiet) PrintText(IsOsVersionText(text) ? "OS version: " + text : text);
      return 0;
    case nfInfoBox:
      MessageBox(DialogKind::Information, text, DialogButtons::OK);
      return 0;
    case nfErrorBox:
      MessageBox(DialogKind::Error, text, DialogButtons::OK);
      return 0;
    case nfConfirmBox:
      return MessageBox(DialogKind::Confirmation, text, DialogButtons::OKCancel);
    case nfWarningBox:
      return MessageBox(DialogKind::Warning, text, DialogButtons::OKCancel);
    default:
      return 0;
  }
}

void TTerminalUi::ProcessMessages() {
  // Ctrl-C arrives as a signal; there is nothing to pump. Keep the terminal current.
  Out().flush();
}

DialogResult TTerminalUi::MessageBox(DialogKind kind, const std::string& text, DialogButtons buttons) {
  std::string prefix;
  switch (kind) {
    case DialogKind::Warning: prefix = "Warning: "; break;
    case DialogKind::Error: prefix = "Error: "; break;
    default: break;
  }
  std::string body = ToTerminalLines(text);
  if (buttons == DialogButtons::OK) {
    PrintLine(prefix + body);
    return mrOK;
  }
  bool yes_no = buttons == DialogButtons::YesNo;
  bool positive = AskYes(prefix + body + (yes_no ? " [y/N] " : " [ok/Cancel] "));
  if (yes_no) return positive ? mrYes : mrNo;
  return positive ? mrOK : mrCancel;
}

std::optional<std::string> TTerminalUi::InputBox(const std::string& caption, const std::string& prompt,
                                                 const std::string& default_value) {
  std::string question = caption + ": " + prompt + " [" + default_value + "] ";
  ClearProgressBar();
  if (options_.assume_yes) {
    Out() << question << default_value << " (--yes)\n" << std::flush;
    return default_value;
  }
  if (!streams_.input_is_terminal) {
    Out() << question << "cancelled (no terminal; --yes takes the default)\n" << std::flush;
    return std::nullopt;
  }
  Out() << question << std::flush;
  auto answer = ReadAnswerLine();
  if (!answer) {
    Out() << '\n' << std::flush;
    return std::nullopt;
  }
  if (IsBlank(*answer)) return default_value;
  return *answer;
}

bool TTerminalUi::AskYes(const std::string& prompt) {
  ClearProgressBar();
  if (options_.assume_yes) {
    Out() << prompt << "yes (--yes)\n" << std::flush;
    return true;
  }
  if (!streams_.input_is_terminal) {
    Out() << prompt << "no (no terminal; --yes answers yes)\n" << std::flush;
    return false;
  }
  Out() << prompt << std::flush;
  auto answer = ReadAnswerLine();
  if (!answer) {
    Out() << '\n' << std::flush;
    return false;
  }
  return IsYesWord(*answer);
}

// Reads one line from the input descriptor. Waits in short slices so that Ctrl-C (the
// stop request) ends the wait; end of input, an error or a stop give no answer.
std::optional<std::string> TTerminalUi::ReadAnswerLine() {
  std::string line;
  for (;;) {
    if (StopRequest().load() != stopNone) return std::nullopt;
    pollfd fd{streams_.input_fd, POLLIN, 0};
    int ready = ::poll(&fd, 1, kPollMilliseconds);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (ready == 0) continue;
    char c = 0;
    ssize_t n = ::read(streams_.input_fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return line.empty() ? std::nullopt : std::optional<std::string>(line);
    if (c == '\n') return line;
    if (c != '\r') line += c;
  }
}

std::string FormatElapsed(std::chrono::milliseconds elapsed) {
  long long ms = elapsed.count();
  if (ms < 0) ms = 0;
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%02lld:%02lld:%02lld.%03lld", ms / 3600000, (ms / 60000) % 60,
                (ms / 1000) % 60, ms % 1000);
  return buffer;
}

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // SA_RESETHAND: the second Ctrl-C gets the default action and ends the program.
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  // A terminated or hung-up program ends its operation the same way, so a backup keeps
  // what it read and never leaves a half-written file under the target's name.
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal_number, &action, nullptr);
}

}  // namespace ostrel::cli

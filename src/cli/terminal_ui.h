#pragma once
// The terminal user interface of the command line: a TNotifier + TDialogs that reports an
// operation on the terminal and asks its questions there.
//
// Output goes to standard error, so that a command's own results on standard output stay
// clean for scripts:
// - nfStatus, nfSpeed (in words, in the progress line), nfCalcData, nfImageData,
//   nfLCDContrast and the boxes (nfInfoBox, nfErrorBox, MessageBox) are printed;
// - nfLogLine lines ("HH:NN:SS.ZZZ:" + text, the time elapsed since StartOperation) and
//   nfLogLineRaw lines only with --verbose, since a backup posts one per block; without
//   it, on a terminal and outside a progress run, the latest nfLogLine stands in one
//   transient line (so a wait for the calculator shows why it waits);
// - progress (nfProgressMax/Pos, nfFlashAddress, nfRAMAddress): a progress bar redrawn in
//   place on a terminal (at most about ten times a second), otherwise a plain line every
//   10 percent;
// - --quiet leaves only boxes and questions.
//
// Questions (nfConfirmBox, nfWarningBox, MessageBox with OK/Cancel or Yes/No, InputBox):
// - with --yes every question is answered Yes / OK (an input box takes its default);
// - otherwise, when standard input is not a terminal, the answer is No / Cancel, so a
//   script never hangs;
// - otherwise the question is asked; "y", "yes", "o", "ok" (any case) answer Yes / OK,
//   anything else (also an empty line, end of input or Ctrl-C) No / Cancel.

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

#include "env/operation_status.h"

namespace ostrel::cli {

struct TTerminalOptions {
  bool assume_yes = false;  // --yes: answer every question Yes / OK
  bool verbose = false;     // --verbose: print the diagnostics lines too
  bool quiet = false;       // --quiet: no status, speed or progress output
};

// Where the terminal UI writes and reads; the default is the process's stderr and stdin.
struct TTerminalStreams {
  std::ostream* out = nullptr;   // nullptr: std::cerr
  int input_fd = 0;              // answers are read from here
  bool input_is_terminal = false;
  bool output_is_terminal = false;

  // stderr / stdin of the process, with isatty() for both flags.
  static TTerminalStreams Process();
};

class TTerminalUi : public TNotifier, public TDialogs {
 public:
  explicit TTerminalUi(TTerminalOptions options);
  TTerminalUi(TTerminalOptions options, TTerminalStreams streams);
  ~TTerminalUi() override;
  TTerminalUi(const TTerminalUi&) = delete;
  TTerminalUi& operator=(const TTerminalUi&) = delete;

  // Both interfaces of this object, for an operation.
  TUserInterface Ui() { return TUserInterface{this, this}; }

  // Takes the operation start time for the elapsed-time prefix of diagnostics lines
  // (the constructor takes it too).
  void StartOperation();
  // The running progress reached its end (an operation whose last position is the start of
  // its last step): shows 100 %.
  void CompleteProgress();
  // Ends a progress line drawn on the terminal; call when the operation has returned
  // (the destructor does it too).
  void FinishProgress();
  // The session-active flag as the operation left it: true when it broke off while the
  // calculator may still be held in a session.
  bool SessionActive() const { return session_active_; }

  int Notify(NotifyCode code, std::int64_t value) override;
  int Notify(NotifyCode code, const std::string& text) override;
  void ProcessMessages() override;
  DialogResult MessageBox(DialogKind kind, const std::string& text, DialogButtons buttons) override;
  std::optional<std::string> InputBox(const std::string& caption, const std::string& prompt,
                                      const std::string& default_value) override;

 private:
  std::ostream& Out();
  void PrintLine(const std::string& text);
  void PrintText(const std::string& text);
  // A new progress run: what the previous one showed no longer applies.
  void StartProgressRun(std::int64_t maximum);
  void UpdateProgress();
  void DrawProgressBar();
  // True when the bar may be drawn again now (at most about ten times a second, and always
  // for its first and its last position).
  bool RedrawDue() const;
  // The speed in words, with the time left at the pace so far.
  std::string SpeedText() const;
  void ShowTransientLine(const std::string& text);
  void ClearProgressBar();
  bool AskYes(const std::string& prompt);
  std::optional<std::string> ReadAnswerLine();
  std::string ElapsedPrefix() const;

  TTerminalOptions options_;
  TTerminalStreams streams_;
  std::chrono::steady_clock::time_point start_;
  std::int64_t progress_max_ = 0;
  std::int64_t progress_pos_ = 0;
  std::int64_t last_reported_step_ = -1;
  std::chrono::steady_clock::time_point progress_start_{};
  std::optional<std::chrono::steady_clock::time_point> last_draw_;  // last 10-percent step printed without a terminal
  std::optional<std::int64_t> flash_address_;
  std::optional<std::int64_t> ram_address_;
  std::string speed_;
  std::string status_;
  bool bar_shown_ = false;
  bool session_active_ = false;
};

// "HH:NN:SS.ZZZ" for an elapsed time (hours are not wrapped at 24).
std::string FormatElapsed(std::chrono::milliseconds elapsed);

// Installs the Ctrl-C handler: the first SIGINT (also SIGTERM or SIGHUP) sets StopRequest()
// to stopByUser, so the running operation ends through its normal clean-up; the handler
// then resets itself, so a second signal ends the program. System calls are restarted
// after the signal.
void InstallInterruptHandler();

}  // namespace ostrel::cli

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <regex>
#include <sstream>
#include <string>

#include "cli/terminal_ui.h"
#include "support/case_names.h"

namespace ostrel::cli {
namespace {

// A pipe standing in for the terminal's input; what a test writes is what the user types.
class InputPipe {
 public:
  InputPipe() {
    if (::pipe(fds_) != 0) throw std::runtime_error("pipe failed");
  }
  ~InputPipe() {
    ::close(fds_[0]);
    if (fds_[1] >= 0) ::close(fds_[1]);
  }
  InputPipe(const InputPipe&) = delete;
  InputPipe& operator=(const InputPipe&) = delete;

  int ReadEnd() const { return fds_[0]; }
  void Type(const std::string& text) { ASSERT_EQ(::write(fds_[1], text.data(), text.size()), (ssize_t)text.size()); }
  void Close() {
    ::close(fds_[1]);
    fds_[1] = -1;
  }
  // What is still unread.
  std::string Pending() {
    int flags = ::fcntl(fds_[0], F_GETFL);
    ::fcntl(fds_[0], F_SETFL, flags | O_NONBLOCK);
    std::string rest;
    char c;
    while (::read(fds_[0], &c, 1) == 1) rest += c;
    ::fcntl(fds_[0], F_SETFL, flags);
    return rest;
  }

 private:
  int fds_[2] = {-1, -1};
};

class TerminalUiTest : public ::testing::Test {
 protected:
  void TearDown() override { StopRequest().store(stopNone); }

  TTerminalStreams Streams(bool input_terminal, bool output_terminal = false) {
    TTerminalStreams streams;
    streams.out = &out;
    streams.input_fd = input.ReadEnd();
    streams.input_is_terminal = input_terminal;
    streams.output_is_terminal = output_terminal;
    return streams;
  }

  std::ostringstream out;
  InputPipe input;
};

struct AnswerCase {
  const char* name;
  bool assume_yes;
  bool input_terminal;
  const char* typed;     // written to the input before the question
  bool close_input;      // end of input after the typed text
  DialogButtons buttons;
  DialogResult expected;
};

// The case as gtest shows it (test lists, failures).
void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.name; }

class AnswerRuleTest : public TerminalUiTest, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(AnswerRuleTest, Answer) {
  const AnswerCase& c = GetParam();
  input.Type(c.typed);
  if (c.close_input) input.Close();
  TTerminalUi ui(TTerminalOptions{c.assume_yes, false, false}, Streams(c.input_terminal));
  EXPECT_EQ(ui.MessageBox(DialogKind::Confirmation, "Overwrite the file?", c.buttons), c.expected);
  EXPECT_NE(out.str().find("Overwrite the file?"), std::string::npos) << "the question is shown";
  if (c.assume_yes || !c.input_terminal) {
    EXPECT_EQ(input.Pending(), c.typed) << "nothing is read";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, AnswerRuleTest,
    ::testing::Values(
        AnswerCase{"YesAnswersYes", true, false, "n\n", false, DialogButtons::YesNo, mrYes},
        AnswerCase{"YesAnswersOk", true, true, "n\n", false, DialogButtons::OKCancel, mrOK},
        AnswerCase{"NoTerminalAnswersNo", false, false, "y\n", false, DialogButtons::YesNo, mrNo},
        AnswerCase{"NoTerminalAnswersCancel", false, false, "ok\n", false, DialogButtons::OKCancel, mrCancel},
        AnswerCase{"TypedYes", false, true, "Yes\n", false, DialogButtons::YesNo, mrYes},
        AnswerCase{"TypedY", false, true, "y\r\n", false, DialogButtons::YesNo, mrYes},
        AnswerCase{"TypedOk", false, true, "OK\n", false, DialogButtons::OKCancel, mrOK},
        AnswerCase{"EmptyLineIsNo", false, true, "\n", false, DialogButtons::YesNo, mrNo},
        AnswerCase{"OtherWordIsCancel", false, true, "sure\n", false, DialogButtons::OKCancel, mrCancel},
        AnswerCase{"EndOfInputIsNo", false, true, "", true, DialogButtons::YesNo, mrNo},
        AnswerCase{"OkOnlyBoxNeedsNoAnswer", false, true, "", true, DialogButtons::OK, mrOK}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TerminalUiTest, QuestionNotificationsReturnTheButton) {
  input.Type("ok\nno\n");
  TTerminalUi ui(TTerminalOptions{}, Streams(true));
  EXPECT_EQ(ui.Notify(nfConfirmBox, "Continue?"), mrOK);
  EXPECT_EQ(ui.Notify(nfWarningBox, "Really?"), mrCancel);
  EXPECT_EQ(ui.Notify(nfInfoBox, "Done"), 0);
  EXPECT_EQ(ui.Notify(nfStatus, "Busy..."), 0);
}

TEST_F(TerminalUiTest, StopRequestEndsAWaitingQuestion) {
  // The user types nothing; Ctrl-C (the stop request) must end the wait with No.
  StopRequest().store(stopByUser);
  TTerminalUi ui(TTerminalOptions{}, Streams(true));
  EXPECT_EQ(ui.MessageBox(DialogKind::Warning, "Wait?", DialogButtons::YesNo), mrNo);
}

TEST_F(TerminalUiTest, InputBoxRules) {
  {
    TTerminalUi ui(TTerminalOptions{true, false, false}, Streams(false));
    EXPECT_EQ(ui.InputBox("Contrast", "Value", "150"), std::optional<std::string>("150"));
  }
  {
    TTerminalUi ui(TTerminalOptions{}, Streams(false));
    EXPECT_EQ(ui.InputBox("Contrast", "Value", "150"), std::nullopt);
  }
  input.Type("\n180\n");
  TTerminalUi ui(TTerminalOptions{}, Streams(true));
  EXPECT_EQ(ui.InputBox("Contrast", "Value", "150"), std::optional<std::string>("150"));
  EXPECT_EQ(ui.InputBox("Contrast", "Value", "150"), std::optional<std::string>("180"));
}

TEST_F(TerminalUiTest, DiagnosticsLinesOnlyWhenVerbose) {
  {
    TTerminalUi quiet_by_default(TTerminalOptions{}, Streams(false));
    quiet_by_default.Notify(nfLogLine, "block 1");
    quiet_by_default.Notify(nfLogLineRaw, "raw");
    EXPECT_EQ(out.str(), "");
  }
  TTerminalUi verbose(TTerminalOptions{false, true, false}, Streams(false));
  verbose.Notify(nfLogLine, "block 1");
  verbose.Notify(nfLogLineRaw, "raw");
  EXPECT_TRUE(std::regex_match(out.str(), std::regex(R"(\d\d:\d\d:\d\d\.\d\d\d:block 1\nraw\n)"))) << out.str();
}

TEST_F(TerminalUiTest, StatusDataAndBoxesArePrinted) {
  TTerminalUi ui(TTerminalOptions{}, Streams(false));
  ui.Notify(nfStatus, "Busy...");
  ui.Notify(nfStatus, "Busy...");
  ui.Notify(nfCalcData, "CPU: SH3\r\nOS: 02.04\r\n");
  ui.Notify(nfErrorBox, "Cable error");
  EXPECT_EQ(out.str(), "Busy...\nCPU: SH3\nOS: 02.04\nError: Cable error\n");
}

TEST_F(TerminalUiTest, ProgressWithoutTerminalEveryTenPercent) {
  TTerminalUi ui(TTerminalOptions{}, Streams(false));
  ui.Notify(nfProgressMax, 1000);
  for (int pos = 0; pos <= 1000; ++pos) {
    ui.Notify(nfFlashAddress, 0xA0000000 + pos * 0x400);
    ui.Notify(nfProgressPos, pos);
  }
  std::istringstream lines(out.str());
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    EXPECT_TRUE(line.starts_with("Progress: ")) << line;
    ++count;
  }
  EXPECT_EQ(count, 11);
  EXPECT_NE(out.str().find("Progress: 100% at A00FA000"), std::string::npos) << out.str();

  // The reset of the bar once the work is done is no progress line of its own.
  ui.Notify(nfFlashAddress, 0);
  ui.Notify(nfProgressPos, 0);
  EXPECT_TRUE(out.str().ends_with("Progress: 100% at A00FA000\n")) << out.str();
}

TEST_F(TerminalUiTest, ProgressBarOnATerminalIsRedrawnInPlace) {
  {
    TTerminalUi ui(TTerminalOptions{}, Streams(false, true));
    ui.Notify(nfProgressMax, 4);
    ui.Notify(nfProgressPos, 2);
    ui.Notify(nfStatus, "Reading");
    ui.Notify(nfProgressPos, 4);
  }
  const std::string text = out.str();
  EXPECT_NE(text.find("\r[###############---------------]  50%"), std::string::npos) << text;
  EXPECT_NE(text.find("Reading\n"), std::string::npos);
  EXPECT_NE(text.find("100%"), std::string::npos);
  EXPECT_EQ(text.back(), '\n') << "the bar's line is ended when the UI goes";
}

TEST_F(TerminalUiTest, QuietShowsNoProgressStatusOrData) {
  TTerminalUi ui(TTerminalOptions{false, false, true}, Streams(false, true));
  ui.Notify(nfProgressMax, 4);
  ui.Notify(nfProgressPos, 2);
  ui.Notify(nfStatus, "Reading");
  ui.Notify(nfCalcData, "HardwareIdentifier: Gy363006\r\n");
  ui.Notify(nfImageData, "Imagename: \r\nos.fls\r\n");
  ui.Notify(nfInfoBox, "Backup complete");
  EXPECT_EQ(out.str(), "Backup complete\n");
}

TEST_F(TerminalUiTest, ImageDataLinesSayWhatTheyAre) {
  TTerminalUi ui(TTerminalOptions{}, Streams(false));
  ui.Notify(nfImageData, "Imagename: \r\n/tmp/os.fls\r\nFILESIZE=00270000\r\n");
  ui.Notify(nfImageData, "02.00.0000");
  ui.Notify(nfImageData, "02.00.0000 beta");
  EXPECT_EQ(out.str(), "Imagename: /tmp/os.fls\nFILESIZE=00270000\nOS version: 02.00.0000\n02.00.0000 beta\n");
}

TEST_F(TerminalUiTest, TheSpeedIsShownInWordsWithTheTimeLeft) {
  TTerminalUi ui(TTerminalOptions{}, Streams(false));
  ui.Notify(nfProgressMax, 10);
  ui.Notify(nfSpeed, std::string("5500000/6000000/6100000/5733120"));
  ui.Notify(nfProgressPos, 1);
  EXPECT_TRUE(std::regex_search(out.str(), std::regex(R"(Progress: 10% \(now 5\.7 MB/s, average 5\.5 MB/s, \d+:\d\d left\)\n)")))
      << out.str();
}

TEST_F(TerminalUiTest, AProgressBarIsRedrawnAtMostTenTimesASecond) {
  {
    TTerminalUi ui(TTerminalOptions{}, Streams(false, true));
    ui.Notify(nfProgressMax, 10000);
    for (int pos = 1; pos <= 10000; ++pos) {
      ui.Notify(nfFlashAddress, pos);
      ui.Notify(nfSpeed, std::string("1/2/3/4"));
      ui.Notify(nfProgressPos, pos);
    }
  }
  const std::string text = out.str();
  const auto draws = std::count(text.begin(), text.end(), '\r');
  // The first and the last position, and what the loop's own time allows in between.
  EXPECT_GE(draws, 2);
  EXPECT_LT(draws, 50) << "the bar was drawn for nearly every block";
  EXPECT_NE(text.find("100%"), std::string::npos) << "the last position is always drawn";
}

TEST_F(TerminalUiTest, FirstCtrlCSetsTheStopRequestSecondEndsTheProgram) {
  struct sigaction saved {};
  ASSERT_EQ(::sigaction(SIGINT, nullptr, &saved), 0);
  InstallInterruptHandler();
  ASSERT_EQ(::raise(SIGINT), 0);
  EXPECT_EQ(StopRequest().load(), stopByUser);
  struct sigaction now {};
  ::sigaction(SIGINT, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL) << "the next Ctrl-C takes the default action";
  ::sigaction(SIGINT, &saved, nullptr);
}

struct ElapsedCase {
  long long ms;
  const char* text;
};

// The case in words: how gtest shows it and what its test name is made from.
std::string Describe(const ElapsedCase& c) { return std::to_string(c.ms) + " ms"; }
void PrintTo(const ElapsedCase& c, std::ostream* os) { *os << Describe(c); }

class ElapsedTest : public ::testing::TestWithParam<ElapsedCase> {};

TEST_P(ElapsedTest, Format) {
  EXPECT_EQ(FormatElapsed(std::chrono::milliseconds(GetParam().ms)), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Times, ElapsedTest,
                         ::testing::Values(ElapsedCase{0, "00:00:00.000"}, ElapsedCase{3723004, "01:02:03.004"},
                                           ElapsedCase{59999, "00:00:59.999"}, ElapsedCase{90000000, "25:00:00.000"}),
                         ostrel::testing::DescribedName{});

TEST_F(TerminalUiTest, ANewProgressRunForgetsThePreviousAddressAndSpeed) {
  TTerminalUi ui(TTerminalOptions{}, Streams(false));
  ui.Notify(nfProgressMax, 10);
  ui.Notify(nfFlashAddress, 0x26FF00);
  ui.Notify(nfSpeed, "1/2/3/4");
  ui.Notify(nfProgressPos, 10);
  out.str("");
  ui.Notify(nfProgressMax, 10);  // e.g. the image check after a backup
  ui.Notify(nfProgressPos, 10);
  EXPECT_EQ(out.str(), "Progress: 100%\n");
}

TEST_F(TerminalUiTest, WithoutVerboseTheLatestDiagnosticsLineStandsInOneTerminalLine) {
  {
    TTerminalUi ui(TTerminalOptions{}, Streams(false, true));
    ui.Notify(nfLogLine, "Receive mode not activated!");
    ui.Notify(nfLogLine, "start...");
    ui.Notify(nfStatus, "Busy...");
  }
  EXPECT_EQ(out.str(), "\rReceive mode not activated!\033[K\rstart...\033[K\r\033[KBusy...\n");
}

}  // namespace
}  // namespace ostrel::cli

// The notification handler: how each code shows in the window and what it returns.

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>

#include "window_fixture.h"

namespace ostrel::testing {
namespace {

int Lines(const QPlainTextEdit* memo) { return memo->document()->isEmpty() ? 0 : memo->blockCount(); }

TEST_F(WindowTest, DiagnosticLinesCarryTheElapsedTimeAndThe1001stClearsThePane) {
  TForm1& form = Open();
  TUserInterface ui = form.Ui();
  ui.Notify(nfLogLine, std::string("first"));
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d:first$"))
                  .match(form.memDiagnostic->toPlainText())
                  .hasMatch())
      << form.memDiagnostic->toPlainText().toStdString();
  for (int i = 2; i <= 1000; ++i) ui.Notify(i % 2 ? nfLogLine : nfLogLineRaw, "line " + std::to_string(i));
  EXPECT_EQ(Lines(form.memDiagnostic), 1000);
  ui.Notify(nfLogLineRaw, std::string("line 1001"));
  EXPECT_EQ(form.memDiagnostic->toPlainText().toStdString(), "line 1001");
  ui.Notify(nfLogClear, 0);
  EXPECT_EQ(Lines(form.memDiagnostic), 0);
}

TEST_F(WindowTest, QuestionsReturnThePressedButtonAndOtherCodesZero) {
  TForm1& form = Open();
  dialogs.answers = {mrOK, mrCancel, mrOK, mrCancel};
  EXPECT_EQ(form.Notify(nfConfirmBox, "Go on?"), 1);
  EXPECT_EQ(form.Notify(nfConfirmBox, "Go on?"), 2);
  EXPECT_EQ(form.Notify(nfWarningBox, "Sure?"), 1);
  EXPECT_EQ(form.Notify(nfWarningBox, "Sure?"), 2);
  EXPECT_EQ(form.Notify(nfInfoBox, "Note"), 0);
  EXPECT_EQ(form.Notify(nfErrorBox, "Bad"), 0);
  ASSERT_EQ(dialogs.boxes.size(), 6u);
  EXPECT_EQ(dialogs.boxes[0].kind, DialogKind::Confirmation);
  EXPECT_EQ(dialogs.boxes[0].buttons, DialogButtons::OKCancel);
  EXPECT_EQ(dialogs.boxes[2].kind, DialogKind::Warning);
  EXPECT_EQ(dialogs.boxes[2].buttons, DialogButtons::OKCancel);
  EXPECT_EQ(dialogs.boxes[4].kind, DialogKind::Information);
  EXPECT_EQ(dialogs.boxes[5].kind, DialogKind::Error);
  EXPECT_EQ(dialogs.boxes[5].buttons, DialogButtons::OK);
  for (int code : {0, 6, 18, 22, 99}) {
    EXPECT_EQ(form.Notify(static_cast<NotifyCode>(code), 5), 0);
    EXPECT_EQ(form.Notify(static_cast<NotifyCode>(code), "x"), 0);
  }
  EXPECT_EQ(dialogs.boxes.size(), 6u);
}

TEST_F(WindowTest, ValuesShowInTheirFields) {
  TForm1& form = Open();
  form.Notify(nfFlashAddress, 0xA0010000);
  form.Notify(nfRAMAddress, 0x1234);
  form.Notify(nfSpeed, "Transfer-speed:      12345 bytes/sec");
  form.Notify(nfStatus, "Reading flash");
  form.Notify(nfLCDContrast, 143);
  form.Notify(nfCalcData, "Hardware: Gy363000\r\nOS: 02.00");
  form.Notify(nfImageData, "FILESIZE=00400000");
  form.Notify(nfSessionActive, 0x101);
  form.Notify(nfProgressMax, 200);
  form.Notify(nfProgressPos, 50);
  form.Notify(nfBlockProgressMax, 10);
  form.Notify(nfBlockProgressPos, 30);
  EXPECT_EQ(form.edCurrentFlashAddress->text().toStdString(), "A0010000");
  EXPECT_EQ(form.edCurrentRAMAddress->text().toStdString(), "00001234");
  EXPECT_EQ(form.edSpeed->text().toStdString(), "Transfer-speed:      12345 bytes/sec");
  EXPECT_EQ(form.lblStatus->text().toStdString(), "Reading flash");
  EXPECT_EQ(form.edLCDcontrast->text().toStdString(), "143");
  EXPECT_EQ(form.memCalcData->toPlainText().toStdString(), "Hardware: Gy363000\nOS: 02.00");
  EXPECT_EQ(form.memImageData->toPlainText().toStdString(), "FILESIZE=00400000");
  EXPECT_EQ(form.SessionActive(), 1) << "the low byte";
  EXPECT_EQ(form.ProgressBar1->maximum(), 200);
  EXPECT_EQ(form.ProgressBar1->value(), 50);
  EXPECT_EQ(form.ProgressBar2->value(), 10) << "a position past the maximum shows as full";

  form.SetOperationState(osIdle);
  EXPECT_EQ(form.ProgressBar1->value(), 0);
  EXPECT_TRUE(form.edCurrentFlashAddress->text().isEmpty());
  EXPECT_TRUE(form.edCurrentRAMAddress->text().isEmpty());
}

TEST_F(WindowTest, FinishOperationReportsAPendingStopOnce) {
  struct Case {
    std::uint8_t reason;
    const char* text;
  };
  TForm1& form = Open();
  for (const Case& c : {Case{stopByUser, "Manually cancelled!"}, Case{stopByLink, "Automatically cancelled!"},
                        Case{7, "Unknown cancel reason!"}}) {
    dialogs.boxes.clear();
    form.SetOperationState(osBusy);
    StopRequest() = c.reason;
    form.FinishOperation();
    EXPECT_EQ(dialogs.Texts(DialogKind::Warning), std::vector<std::string>{c.text});
    EXPECT_TRUE(form.memDiagnostic->toPlainText().endsWith(QString::fromLatin1(c.text)));
    EXPECT_EQ(StopRequest().load(), stopNone);
    EXPECT_EQ(form.lblStatus->text().toStdString(), "Idle...");
  }
  dialogs.boxes.clear();
  form.FinishOperation();
  EXPECT_TRUE(dialogs.boxes.empty()) << "no stop, no box";
}

}  // namespace
}  // namespace ostrel::testing

#pragma once
// A window for a test: its own settings file, a chosen COM port list, developer mode on
// or off, and dialogs answered from a script instead of a screen.

#include <gtest/gtest.h>

#include <QPushButton>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "env/app_env.h"
#include "support/temporary_folder.h"

namespace ostrel::testing {

struct ShownBox {
  DialogKind kind;
  DialogButtons buttons;
  std::string text;
};

// Answers the window's dialogs from scripts given in advance and records what was asked.
class ScriptedDialogs : public TWindowDialogs {
 public:
  DialogResult MessageBox(DialogKind kind, const std::string& text, DialogButtons buttons) override {
    boxes.push_back({kind, buttons, text});
    if (on_box) on_box(boxes.back());
    if (buttons == DialogButtons::OK) return mrOK;
    if (answers.empty()) return buttons == DialogButtons::YesNo ? mrNo : mrCancel;
    const DialogResult answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::optional<std::string> InputBox(const std::string&, const std::string&, const std::string&) override {
    return std::nullopt;
  }
  std::optional<std::string> ChooseFile(const TFileDialogRequest& request) override {
    file_requests.push_back(request);
    if (files.empty()) return std::nullopt;
    std::optional<std::string> file = files.front();
    files.pop_front();
    return file;
  }

  std::vector<std::string> Texts(DialogKind kind) const {
    std::vector<std::string> texts;
    for (const ShownBox& box : boxes) {
      if (box.kind == kind) texts.push_back(box.text);
    }
    return texts;
  }

  std::deque<DialogResult> answers;                // for OK/Cancel and Yes/No boxes
  std::deque<std::optional<std::string>> files;    // for the file dialogs; none left: cancelled
  std::function<void(const ShownBox&)> on_box;
  std::vector<ShownBox> boxes;
  std::vector<TFileDialogRequest> file_requests;
};

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override { StartEnvironment(false); }
  void TearDown() override {
    window.reset();
    ResetAppEnvForTesting(TStartupContext::FromProcess());
  }

  // A fresh application environment on this test's settings file, DEVELOP set or not.
  void StartEnvironment(bool developer) {
    TStartupContext context = TStartupContext::FromProcess();
    context.environment = [developer](const std::string& name) -> std::string {
      if (name == "DEVELOP") return developer ? "7395" : "";
      if (name == "OSTREL_REGISTRY") return "/nonexistent/registry.ini";
      return "";
    };
    ResetAppEnvForTesting(context);
    AppEnv().PSetValue("IF", SettingsPath());
    AppEnv().PSetValue("PN", "Ostrel Maintenance");
  }

  std::string SettingsPath() const { return tmp / "ostrel.INI"; }
  TIniFile Settings() const { return TIniFile(SettingsPath()); }

  // Creates and shows the window (creation, showing, activation).
  TForm1& Open() {
    TWindowLinks window_links = links;
    window_links.list_com_ports = [this](std::vector<std::string>& list, std::string& chosen) {
      list = ports;
      chosen = configured_port;
    };
    window = std::make_unique<TForm1>(dialogs, window_links);
    window->show();
    return *window;
  }

  // The buttons that can be pressed now.
  std::vector<std::string> EnabledButtons() const {
    std::vector<std::string> names;
    for (QPushButton* button : window->findChildren<QPushButton*>()) {
      if (button->isEnabled()) names.push_back(button->text().toStdString());
    }
    return names;
  }

  TemporaryFolder tmp;
  ScriptedDialogs dialogs;
  TWindowLinks links;
  std::vector<std::string> ports{"/dev/ttyS0", "/dev/ttyUSB0"};
  std::string configured_port = "/dev/ttyUSB0";
  std::unique_ptr<TForm1> window;
};

}  // namespace ostrel::testing

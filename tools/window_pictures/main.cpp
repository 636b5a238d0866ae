// Takes the README's pictures of the window against a simulated calculator: the idle
// window, the window in the middle of a flash backup, and the window after the flash was
// recovered from that backup. Each picture is the window's own
// rendering (Qt's grab), written as PNG into the folder given.
//
//   ostrel-window-pictures FOLDER
//
// Run it on a real display or under Xvfb (scripts/screenshots.sh); the offscreen platform
// draws with fallback fonts.

#include <QApplication>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>

#include "app/main_window.h"
#include "env/app_env.h"
#include "simulation/simulated_calculator.h"
#include "simulation/simulated_flash.h"

namespace {

// Dialogs that need nobody: every box answered with OK, every file dialog with one file.
class AutomaticDialogs : public ostrel::TWindowDialogs {
 public:
  explicit AutomaticDialogs(std::string file) : file_(std::move(file)) {}
  ostrel::DialogResult MessageBox(ostrel::DialogKind, const std::string& text, ostrel::DialogButtons) override {
    std::cerr << "box: " << text << '\n';
    return ostrel::mrOK;
  }
  std::optional<std::string> InputBox(const std::string&, const std::string&, const std::string& value) override {
    return value;
  }
  std::optional<std::string> ChooseFile(const ostrel::TFileDialogRequest&) override { return file_; }

 private:
  std::string file_;
};

bool Save(QWidget& window, const std::filesystem::path& file) {
  const bool saved = window.grab().save(QString::fromStdString(file.string()), "PNG");
  std::cerr << (saved ? "wrote " : "could not write ") << file.string() << '\n';
  return saved;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  if (QApplication::arguments().size() != 2) {
    std::cerr << "usage: ostrel-window-pictures FOLDER\n";
    return 2;
  }
  const std::filesystem::path folder = QApplication::arguments()[1].toStdString();
  std::filesystem::create_directories(folder);
  const std::filesystem::path work = std::filesystem::temp_directory_path() / "ostrel-window-pictures";
  std::filesystem::remove_all(work);
  std::filesystem::create_directories(work);

  // A settings file of its own, so the pictures do not depend on the user's choices.
  ostrel::PreLoadAppEnv({"IF=" + (work / "ostrel.INI").string()});
  ostrel::ApplyStartupDefaults();

  ostrel::TSimulatedCalculator calculator(ostrel::SimulatedLink::Usb);
  ostrel::TWindowLinks links;
  links.target.usb_device = calculator.Endpoint();
  links.list_com_ports = [](std::vector<std::string>& ports, std::string& chosen) {
    ports = {"/dev/ttyUSB0"};
    chosen = ports.front();
  };
  // The recovery program the simulated calculator plays.
  const std::vector<std::uint8_t> program = ostrel::SimulatedRecoveryProgram();
  links.recovery_helper = (work / "OSRECOVER.SH4").string();
  std::ofstream(links.recovery_helper, std::ios::binary)
      .write(reinterpret_cast<const char*>(program.data()), static_cast<std::streamsize>(program.size()));
  AutomaticDialogs dialogs((work / "backup.fls").string());
  ostrel::TForm1 window(dialogs, links);
  window.resize(1000, 720);
  window.show();

  bool ok = true;
  QTimer::singleShot(500, [&] {
    ok = Save(window, folder / "idle.png") && ok;
    bool taken = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
      if (!taken && window.ProgressBar1->value() * 100 >= window.ProgressBar1->maximum() * 40) {
        taken = true;
        ok = Save(window, folder / "backup.png") && ok;
      }
    });
    watch.start(50);
    window.btnBackup->click();
    watch.stop();
    ok = taken && ok;
    window.btnRecover->click();
    ok = Save(window, folder / "recovery.png") && ok;
    QApplication::quit();
  });
  QApplication::exec();
  std::filesystem::remove_all(work);
  return ok ? 0 : 1;
}

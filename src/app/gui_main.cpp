// The `ostrel-gui` program: the application environment, an optional simulated
// calculator, then the one window and its message loop until the window closes.

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <iostream>
#include <memory>

#include "app/main_window.h"
#include "app/simulated_window_links.h"
#include "app/widget_dialogs.h"
#include "app/window_arguments.h"
#include "cli/window_launch.h"
#include "env/app_env.h"
#include "simulation/simulated_calculator.h"
#include "simulation/simulated_flash.h"

namespace {

// A recovery program for the simulated calculator, which plays any program with the
// recovery program's header; removed when the window closes.
class TemporaryProgramFile {
 public:
  TemporaryProgramFile() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ostrel-gui-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("Unable to create a temporary folder");
    folder_ = pattern;
    const std::vector<std::uint8_t> program = ostrel::SimulatedRecoveryProgram();
    std::ofstream out(Path(), std::ios::binary);
    out.write(reinterpret_cast<const char*>(program.data()), static_cast<std::streamsize>(program.size()));
  }
  ~TemporaryProgramFile() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  TemporaryProgramFile(const TemporaryProgramFile&) = delete;
  TemporaryProgramFile& operator=(const TemporaryProgramFile&) = delete;
  std::string Path() const { return (folder_ / "OSRECOVER.SH4").string(); }

 private:
  std::filesystem::path folder_;
};

int Fail(const std::string& text) {
  std::cerr << "ostrel-gui: " << text << '\n';
  QMessageBox::critical(nullptr, QStringLiteral("Error"), QString::fromStdString(text));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // Help and the missing display are answered before Qt needs a display.
  const std::vector<std::string> raw_words(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (ostrel::ParseWindowArguments(raw_words).help) {
    std::cout << ostrel::WindowUsage();
    return 0;
  }
  const auto environment = [](const std::string& name) -> std::string {
    const char* value = std::getenv(name.c_str());
    return value ? value : "";
  };
  if (!ostrel::cli::DisplayAvailable(environment) && environment("QT_QPA_PLATFORM").empty()) {
    std::cerr << "ostrel-gui: no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                 "use the ostrel command line instead\n";
    return 1;
  }
  QApplication application(argc, argv);
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/ostrel.png")));
  std::vector<std::string> words;
  const QStringList qt_words = QApplication::arguments();  // without Qt's own options
  for (qsizetype i = 1; i < qt_words.size(); ++i) words.push_back(qt_words[i].toStdString());
  const ostrel::TWindowArguments arguments = ostrel::ParseWindowArguments(words);
  if (!arguments.error.empty()) {
    std::cerr << "ostrel-gui: " << arguments.error << '\n';
    return 2;
  }
  try {
    ostrel::PreLoadAppEnv(arguments.start_parameters);
    ostrel::ApplyStartupDefaults();
    std::unique_ptr<ostrel::TSimulatedCalculator> simulator;
    ostrel::TWindowLinks links;
    const bool serial = arguments.simulate == "serial";
    std::unique_ptr<TemporaryProgramFile> helper;
    if (!arguments.simulate.empty()) {
      simulator = std::make_unique<ostrel::TSimulatedCalculator>(serial ? ostrel::SimulatedLink::Serial
                                                                             : ostrel::SimulatedLink::Usb);
      links = ostrel::SimulatedWindowLinks(simulator->Endpoint(), serial);
      helper = std::make_unique<TemporaryProgramFile>();
      links.recovery_helper = helper->Path();
    }
    ostrel::TWidgetDialogs dialogs;
    ostrel::TForm1 window(dialogs, links);
    dialogs.SetParent(&window);
    // The simulated calculator has no display to look at: the title says what its display
    // shows whenever a question of the recovery depends on it (the OS ERROR screen).
    QTimer screen_watch;
    if (simulator) {
      const QString title = window.windowTitle() + (serial ? QStringLiteral(" - simulated calculator (3Pin)")
                                                           : QStringLiteral(" - simulated calculator (USB)"));
      window.setWindowTitle(title);
      QObject::connect(&screen_watch, &QTimer::timeout, [&window, &simulator, title] {
        const std::string screen = simulator->Screen();
        window.setWindowTitle(screen.empty() ? title
                                             : title + QStringLiteral(", its display shows: ") +
                                                   QString::fromStdString(screen));
      });
      screen_watch.start(250);
    }
    window.show();
    return QApplication::exec();
  } catch (const std::exception& error) {
    return Fail(error.what());
  }
}

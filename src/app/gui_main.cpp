// The `ostrel-gui` program: the application environment, an optional simulated
// calculator, then the one window and its message loop until the window closes.

#include <QApplication>
#include <QIcon>
#include <QMessageBox>

#include <iostream>
#include <memory>

#include "app/main_window.h"
#include "app/widget_dialogs.h"
#include "app/window_arguments.h"
#include "cli/simulated_calculator.h"
#include "env/app_env.h"

namespace {

// Points the window's cable at the simulated calculator: its USB stand-in, or its serial
// line as the one entry of the port list.
ostrel::TWindowLinks SimulatedLinks(const ostrel::cli::TSimulatedCalculator& simulator, bool serial) {
  ostrel::TWindowLinks links;
  const std::string endpoint = simulator.Endpoint();
  if (serial) {
    links.target.serial_port = endpoint;
    links.list_com_ports = [endpoint](std::vector<std::string>& ports, std::string& chosen) {
      ports = {endpoint};
      chosen = endpoint;
    };
    links.initial_cable = 0;
  } else {
    links.target.usb_device = endpoint;
    links.initial_cable = 1;
  }
  return links;
}

int Fail(const std::string& text) {
  std::cerr << "ostrel-gui: " << text << '\n';
  QMessageBox::critical(nullptr, QStringLiteral("Error"), QString::fromStdString(text));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/ostrel.png")));
  std::vector<std::string> words;
  const QStringList qt_words = QApplication::arguments();  // without Qt's own options
  for (qsizetype i = 1; i < qt_words.size(); ++i) words.push_back(qt_words[i].toStdString());
  const ostrel::TWindowArguments arguments = ostrel::ParseWindowArguments(words);
  if (arguments.help) {
    std::cout << ostrel::WindowUsage();
    return 0;
  }
  if (!arguments.error.empty()) {
    std::cerr << "ostrel-gui: " << arguments.error << '\n';
    return 2;
  }
  try {
    ostrel::PreLoadAppEnv(arguments.start_parameters);
    ostrel::ApplyStartupDefaults();
    std::unique_ptr<ostrel::cli::TSimulatedCalculator> simulator;
    ostrel::TWindowLinks links;
    const bool serial = arguments.simulate == "serial";
    if (!arguments.simulate.empty()) {
      simulator = std::make_unique<ostrel::cli::TSimulatedCalculator>(serial ? ostrel::cli::SimulatedLink::Serial
                                                                             : ostrel::cli::SimulatedLink::Usb);
      links = SimulatedLinks(*simulator, serial);
    }
    ostrel::TWidgetDialogs dialogs;
    ostrel::TForm1 window(dialogs, links);
    dialogs.SetParent(&window);
    if (simulator) {
      window.setWindowTitle(window.windowTitle() + (serial ? QStringLiteral(" - simulated calculator (3Pin)")
                                                           : QStringLiteral(" - simulated calculator (USB)")));
    }
    window.show();
    return QApplication::exec();
  } catch (const std::exception& error) {
    return Fail(error.what());
  }
}

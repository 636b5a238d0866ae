// The `ostrel-gui` program: the application environment, then the one window and its
// message loop until the window closes.

#include <QApplication>
#include <QMessageBox>

#include <iostream>

#include "app/main_window.h"
#include "app/widget_dialogs.h"
#include "env/app_env.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  std::vector<std::string> arguments;
  const QStringList words = QApplication::arguments();
  for (qsizetype i = 1; i < words.size(); ++i) arguments.push_back(words[i].toStdString());
  try {
    ostrel::PreLoadAppEnv(arguments);
    ostrel::ApplyStartupDefaults();
  } catch (const std::exception& error) {
    std::cerr << "ostrel-gui: " << error.what() << '\n';
    QMessageBox::critical(nullptr, QStringLiteral("Error"), QString::fromStdString(error.what()));
    return 1;
  }
  ostrel::TWidgetDialogs dialogs;
  ostrel::TForm1 window(dialogs, {});
  dialogs.SetParent(&window);
  window.show();
  return QApplication::exec();
}

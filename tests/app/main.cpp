#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>

namespace {

QtMessageHandler default_handler = nullptr;

// The offscreen platform warns about every window whose size hints change; nothing to see.
void DropPlatformNoise(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (message.contains(QStringLiteral("propagateSizeHints"))) return;
  if (default_handler) default_handler(type, context, message);
}

}  // namespace

// The window tests run without a screen: Qt's offscreen platform unless one is chosen.
int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  default_handler = qInstallMessageHandler(DropPlatformNoise);
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

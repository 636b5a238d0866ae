#pragma once
// The window's dialogs as Qt widgets: message boxes, the input box and the file dialogs,
// all modal over the parent window.

#include <QString>

#include "app/window_dialogs.h"

class QWidget;

namespace ostrel {

class TWidgetDialogs : public TWindowDialogs {
 public:
  // The parent may be set later (the window is created after its dialogs).
  void SetParent(QWidget* parent) { parent_ = parent; }

  DialogResult MessageBox(DialogKind kind, const std::string& text, DialogButtons buttons) override;
  std::optional<std::string> InputBox(const std::string& caption, const std::string& prompt,
                                      const std::string& default_value) override;
  std::optional<std::string> ChooseFile(const TFileDialogRequest& request) override;

 private:
  QWidget* parent_ = nullptr;
};

// "Flash-image|*.fls;*.G1S;*.bin" → "Flash-image (*.fls *.G1S *.bin)"; several pairs
// "A|*.a|B|*.b" become one filter each, separated by ";;".
QString QtFileFilter(const std::string& filter);

}  // namespace ostrel

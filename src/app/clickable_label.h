#pragma once
// A label that runs a handler when it is clicked.

#include <QLabel>
#include <QMouseEvent>

#include <functional>
#include <utility>

namespace ostrel {

class TClickableLabel : public QLabel {
 public:
  explicit TClickableLabel(QWidget* parent = nullptr) : QLabel(parent) { setCursor(Qt::PointingHandCursor); }

  void SetOnClick(std::function<void()> handler) { on_click_ = std::move(handler); }

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && on_click_) on_click_();
  }

 private:
  std::function<void()> on_click_;
};

}  // namespace ostrel

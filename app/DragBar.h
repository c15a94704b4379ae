#pragma once

#include <QFrame>

namespace tandrel::app {

/// A bar that moves its window when pressed with any mouse button, as a title bar would.
class TDragBar final : public QFrame {
public:
    using QFrame::QFrame;

protected:
    void mousePressEvent(QMouseEvent* Event) override;
};

}  // namespace tandrel::app

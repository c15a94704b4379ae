#pragma once

#include <QLabel>

namespace tandrel::app {

/// The title on a bar that drags the window: a press on the text itself stays there and
/// does not drag.
class TTitleLabel final : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void mousePressEvent(QMouseEvent* Event) override;
};

}  // namespace tandrel::app

#include "app/TitleLabel.h"

#include <QMouseEvent>

namespace tandrel::app {

void TTitleLabel::mousePressEvent(QMouseEvent* event)
{
    event->accept();
}

}  // namespace tandrel::app

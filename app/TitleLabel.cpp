#include "app/TitleLabel.h"

#include <QMouseEvent>

namespace tandrel::app {

void TTitleLabel::mousePressEvent(QMouseEvent* Event) { Event->accept(); }

}  // namespace tandrel::app

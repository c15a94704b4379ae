#include "app/DragBar.h"

#include <QMouseEvent>
#include <QWindow>

namespace tandrel::app {

void TDragBar::mousePressEvent(QMouseEvent* Event) {
    if (QWindow* handle = window()->windowHandle()) handle->startSystemMove();
    Event->accept();
}

}  // namespace tandrel::app

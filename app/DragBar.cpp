#include "app/DragBar.h"

#include <QMouseEvent>
#include <QWindow>

namespace tandrel::app {

void TDragBar::mousePressEvent(QMouseEvent* event)
{
    if (QWindow* handle = window()->windowHandle())
        handle->startSystemMove();
    event->accept();
}

}  // namespace tandrel::app

#pragma once
// Finding and pressing the window's controls by their names, for the window tests.

#include <QAbstractButton>
#include <QStackedWidget>
#include <QTest>
#include <QWidget>

namespace tandrel::app::testing {

/// The child of `Form` named `Name`; a test that names a control the window lacks stops at once.
template <typename T = QWidget>
T* Control(const QWidget& Form, const char* Name) {
    auto* w = Form.findChild<T*>(QString::fromLatin1(Name));
    if (!w) qFatal("no control %s", Name);
    return w;
}

/// A left click on the button named `Name`, as the operator would.
inline void ClickControl(const QWidget& Form, const char* Name) {
    QTest::mouseClick(Control<QAbstractButton>(Form, Name), Qt::LeftButton);
}

/// The page the page control shows now.
inline QWidget* ShownPage(const QWidget& Form) {
    return Control<QStackedWidget>(Form, "pgcclientes")->currentWidget();
}

}  // namespace tandrel::app::testing

#pragma once
// Finding and pressing the window's controls by their names, for the window tests.

#include <QAbstractButton>
#include <QStackedWidget>
#include <QTest>
#include <QWidget>

namespace tandrel::app::testing {

/// The child of `form` named `name`; a test that names a control the window lacks stops at once.
template <typename T = QWidget>
T* Control(const QWidget& form, const char* name)
{
    auto* w = form.findChild<T*>(QString::fromLatin1(name));
    if (!w)
        qFatal("no control %s", name);
    return w;
}

/// A left click on the button named `name`, as the operator would.
inline void ClickControl(const QWidget& form, const char* name)
{
    QTest::mouseClick(Control<QAbstractButton>(form, name), Qt::LeftButton);
}

/// The page the page control shows now.
inline QWidget* ShownPage(const QWidget& form)
{
    return Control<QStackedWidget>(form, "pgcclientes")->currentWidget();
}

}  // namespace tandrel::app::testing

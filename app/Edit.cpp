#include "app/Edit.h"

#include <QFocusEvent>

#include <utility>

namespace tandrel::app {

TEdit::TEdit(QWidget* Parent) : QLineEdit(Parent) {
    connect(this, &QLineEdit::textChanged, this, [this] { ApplyCharCase(); });
}

void TEdit::SetCharCase(TEditCharCase Value) {
    FCharCase = Value;
    ApplyCharCase();
}

void TEdit::ApplyCharCase() {
    const QString current = text();
    QString wanted = current;
    if (FCharCase == TEditCharCase::ecUpperCase)
        wanted = current.toUpper();
    else if (FCharCase == TEditCharCase::ecLowerCase)
        wanted = current.toLower();
    if (wanted == current) return;
    const int cursor = cursorPosition();
    const bool modified = isModified();
    setText(wanted);  // re-enters through textChanged once, then finds nothing to change
    setCursorPosition(std::min(cursor, static_cast<int>(wanted.size())));
    setModified(modified);
}

void TEdit::focusInEvent(QFocusEvent* Event) {
    QLineEdit::focusInEvent(Event);
    FHasFocus = true;
}

void TEdit::focusOutEvent(QFocusEvent* Event) {
    QLineEdit::focusOutEvent(Event);
    // A box that takes the focus back from its own exit check makes the box it was
    // leaving for lose a focus it never received; that is no exit.
    const bool hadFocus = std::exchange(FHasFocus, false);
    // Only the operator leaves a box: the window losing the activation (a message box,
    // another program) or the program moving the focus (a page change) is no exit.
    const auto reason = Event->reason();
    if (!hadFocus || (reason != Qt::TabFocusReason && reason != Qt::BacktabFocusReason &&
                      reason != Qt::MouseFocusReason && reason != Qt::ShortcutFocusReason))
        return;
    if (CanExit() && FOnExit) FOnExit();
}

}  // namespace tandrel::app

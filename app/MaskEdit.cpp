#include "app/MaskEdit.h"

#include "app/Messages.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QKeySequence>

#include <stdexcept>

namespace tandrel::app {

// --- TEditMask ---------------------------------------------------------------

TEditMask::TEditMask(const QString& mask)
{
    int i = 0;
    if (mask.startsWith(QLatin1Char('!'))) {
        FRightAligned = true;
        i = 1;
    }
    for (; i < mask.size(); ++i) {
        const QChar c = mask[i];
        if (c == QLatin1Char(';'))
            break;
        Position p;
        if (c == QLatin1Char('\\') && i + 1 < mask.size()) {
            p.Literal = mask[++i];
        } else if (c == QLatin1Char('0') || c == QLatin1Char('9')) {
            p.Slot = true;
            p.Required = c == QLatin1Char('0');
        } else {
            p.Literal = c;
        }
        FPositions.push_back(p);
    }
    // The rest is ";<save literals>;<blank>": only the blank matters to a box that
    // never saves its literals.
    const QStringList sections = mask.mid(i).split(QLatin1Char(';'));
    if (sections.size() >= 3 && !sections[2].isEmpty())
        FBlank = sections[2][0];
}

int TEditMask::SlotCount() const
{
    int n = 0;
    for (const Position& p : FPositions)
        n += p.Slot ? 1 : 0;
    return n;
}

QString TEditMask::EmptyDisplay() const
{
    QString display;
    for (const Position& p : FPositions)
        display += p.Slot ? FBlank : p.Literal;
    return display;
}

QString TEditMask::TextOf(const QString& display) const
{
    std::vector<QChar> cells;  // a null QChar is an empty slot
    for (int i = 0; i < Length() && i < display.size(); ++i)
        if (FPositions[i].Slot)
            cells.push_back(display[i].isDigit() ? display[i] : QChar());
    int first = -1;
    int last = -1;
    for (int i = 0; i < static_cast<int>(cells.size()); ++i)
        if (!cells[i].isNull()) {
            if (first < 0)
                first = i;
            last = i;
        }
    if (first < 0)
        return {};
    const int begin = FRightAligned ? first : 0;
    const int end = FRightAligned ? static_cast<int>(cells.size()) : last + 1;
    QString text;
    for (int i = begin; i < end; ++i)
        text += cells[i].isNull() ? QLatin1Char(' ') : cells[i];
    return text;
}

QString TEditMask::DisplayOf(const QString& text) const
{
    QString display = EmptyDisplay();
    const int cells = SlotCount();
    int next = FRightAligned ? std::max(0, cells - static_cast<int>(text.size())) : 0;
    int from = 0;
    int slot = 0;
    for (int i = 0; i < Length() && from < text.size(); ++i) {
        if (!FPositions[i].Slot)
            continue;
        if (slot++ < next)
            continue;
        const QChar c = text[from++];
        if (c.isDigit())
            display[i] = c;
    }
    return display;
}

int TEditMask::FirstEmptyRequired(const QString& display) const
{
    for (int i = 0; i < Length(); ++i)
        if (FPositions[i].Required && (i >= display.size() || !display[i].isDigit()))
            return i;
    return -1;
}

// --- TMaskEdit ---------------------------------------------------------------

TMaskEdit::TMaskEdit(const QString& mask, TMessages& messages, QWidget* parent)
    : TMaskEdit(parent)
{
    SetMessages(messages);
    SetEditMask(mask);
}

TMaskEdit::TMaskEdit(QWidget* parent) : TEdit(parent)
{
    // Drops and the context menu would edit the text behind the mask's back.
    setAcceptDrops(false);
    setContextMenuPolicy(Qt::NoContextMenu);
}

void TMaskEdit::SetEditMask(const QString& mask)
{
    FMask = TEditMask(mask);
    setMaxLength(FMask.Length());
    SetDisplay(FMask.EmptyDisplay(), 0);
    FModified = false;
}

QString TMaskEdit::Text() const
{
    return FMask.TextOf(text());
}

void TMaskEdit::SetText(const QString& value)
{
    SetDisplay(FMask.DisplayOf(value), 0);
    FModified = false;
}

void TMaskEdit::Clear()
{
    SetText({});
}

void TMaskEdit::ValidateEdit()
{
    const int empty = FMask.FirstEmptyRequired(text());
    if (!FModified || empty < 0)
        return;
    QApplication::beep();
    deselect();
    setCursorPosition(empty);
    throw std::runtime_error(kInvalidMaskInput);
}

bool TMaskEdit::CanExit()
{
    if (!FModified || FMask.FirstEmptyRequired(text()) < 0)
        return true;
    // Take the focus back before telling, so the box the operator was leaving for
    // never gets it (and never runs its own exit check).
    setFocus(Qt::OtherFocusReason);
    ValidateAndShow();
    return false;
}

void TMaskEdit::ValidateAndShow()
{
    if (FMessages) {
        RunAction(*FMessages, [this] { ValidateEdit(); });
        return;
    }
    TDialogMessages boxes(window());
    RunAction(boxes, [this] { ValidateEdit(); });
}

void TMaskEdit::focusInEvent(QFocusEvent* event)
{
    // Coming back from a message box, or being held by the check, is no new visit.
    if (!FVisiting) {
        FVisiting = true;
        FSavedDisplay = text();
        FSavedModified = FModified;
    }
    TEdit::focusInEvent(event);
}

void TMaskEdit::focusOutEvent(QFocusEvent* event)
{
    TEdit::focusOutEvent(event);
    const auto reason = event->reason();
    if (!hasFocus() && reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
        FVisiting = false;
}

void TMaskEdit::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    if (event == QKeySequence::Paste) {
        Paste();
    } else if (event == QKeySequence::Cut) {
        copy();
        if (hasSelectedText())
            ClearRange(selectionStart(), selectionEnd());
    } else if (event == QKeySequence::Copy || event == QKeySequence::SelectAll
               || key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Home
               || key == Qt::Key_End) {
        QLineEdit::keyPressEvent(event);
        return;
    } else if (key == Qt::Key_Escape) {
        SetDisplay(FSavedDisplay, 0);
        FModified = FSavedModified;
    } else if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        ValidateAndShow();
    } else if (key == Qt::Key_Backspace) {
        if (hasSelectedText()) {
            ClearRange(selectionStart(), selectionEnd());
        } else if (const int p = PreviousSlot(cursorPosition()); p >= 0) {
            ClearRange(p, p + 1);
        }
    } else if (key == Qt::Key_Delete) {
        if (hasSelectedText()) {
            ClearRange(selectionStart(), selectionEnd());
        } else if (const int p = NextSlot(cursorPosition()); p >= 0) {
            const int cursor = cursorPosition();
            ClearRange(p, p + 1);
            setCursorPosition(cursor);
        }
    } else if (event->text().size() == 1 && event->text()[0].isPrint()
               && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        const QChar c = event->text()[0];
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            if (hasSelectedText())
                ClearRange(selectionStart(), selectionEnd());
            TypeDigit(c);
        } else {
            QApplication::beep();
        }
    } else {
        event->ignore();
        return;
    }
    event->accept();
}

void TMaskEdit::inputMethodEvent(QInputMethodEvent* event)
{
    // Composed text reaches the box here, not as keys: only its digits are typed.
    const QString committed = event->commitString();
    if (!committed.isEmpty() && hasSelectedText())
        ClearRange(selectionStart(), selectionEnd());
    for (const QChar c : committed)
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            TypeDigit(c);
    event->accept();
}

void TMaskEdit::TypeDigit(QChar digit)
{
    const int p = NextSlot(cursorPosition());
    if (p < 0) {
        QApplication::beep();
        return;
    }
    QString display = text();
    display[p] = digit;
    const int after = NextSlot(p + 1);
    SetDisplay(display, after < 0 ? FMask.Length() : after);
    FModified = true;
}

void TMaskEdit::ClearRange(int from, int to)
{
    QString display = text();
    for (int i = from; i < to && i < FMask.Length(); ++i)
        if (FMask.IsSlot(i))
            display[i] = FMask.Blank();
    if (display != text())
        FModified = true;
    SetDisplay(display, from);
}

void TMaskEdit::Paste()
{
    const QString pasted = QApplication::clipboard()->text();
    if (hasSelectedText())
        ClearRange(selectionStart(), selectionEnd());
    for (const QChar c : pasted)
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            if (NextSlot(cursorPosition()) < 0)
                break;
            TypeDigit(c);
        }
}

void TMaskEdit::SetDisplay(const QString& display, int cursor)
{
    setText(display);
    setCursorPosition(cursor);
}

int TMaskEdit::NextSlot(int from) const
{
    for (int i = std::max(0, from); i < FMask.Length(); ++i)
        if (FMask.IsSlot(i))
            return i;
    return -1;
}

int TMaskEdit::PreviousSlot(int before) const
{
    for (int i = std::min(before, FMask.Length()) - 1; i >= 0; --i)
        if (FMask.IsSlot(i))
            return i;
    return -1;
}

}  // namespace tandrel::app

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

TEditMask::TEditMask(const QString& Mask) {
    int i = 0;
    if (Mask.startsWith(QLatin1Char('!'))) {
        FRightAligned = true;
        i = 1;
    }
    for (; i < Mask.size(); ++i) {
        const QChar c = Mask[i];
        if (c == QLatin1Char(';')) break;
        Position p;
        if (c == QLatin1Char('\\') && i + 1 < Mask.size()) {
            p.Literal = Mask[++i];
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
    const QStringList sections = Mask.mid(i).split(QLatin1Char(';'));
    if (sections.size() >= 3 && !sections[2].isEmpty()) FBlank = sections[2][0];
}

int TEditMask::SlotCount() const {
    int n = 0;
    for (const Position& p : FPositions) n += p.Slot ? 1 : 0;
    return n;
}

QString TEditMask::EmptyDisplay() const {
    QString display;
    for (const Position& p : FPositions) display += p.Slot ? FBlank : p.Literal;
    return display;
}

QString TEditMask::TextOf(const QString& Display) const {
    std::vector<QChar> cells;  // a null QChar is an empty slot
    for (int i = 0; i < Length() && i < Display.size(); ++i)
        if (FPositions[i].Slot) cells.push_back(Display[i].isDigit() ? Display[i] : QChar());
    int first = -1;
    int last = -1;
    for (int i = 0; i < static_cast<int>(cells.size()); ++i)
        if (!cells[i].isNull()) {
            if (first < 0) first = i;
            last = i;
        }
    if (first < 0) return {};
    const int begin = FRightAligned ? first : 0;
    const int end = FRightAligned ? static_cast<int>(cells.size()) : last + 1;
    QString text;
    for (int i = begin; i < end; ++i) text += cells[i].isNull() ? QLatin1Char(' ') : cells[i];
    return text;
}

QString TEditMask::DisplayOf(const QString& Text) const {
    QString display = EmptyDisplay();
    const int cells = SlotCount();
    int next = FRightAligned ? std::max(0, cells - static_cast<int>(Text.size())) : 0;
    int from = 0;
    int slot = 0;
    for (int i = 0; i < Length() && from < Text.size(); ++i) {
        if (!FPositions[i].Slot) continue;
        if (slot++ < next) continue;
        const QChar c = Text[from++];
        if (c.isDigit()) display[i] = c;
    }
    return display;
}

int TEditMask::FirstEmptyRequired(const QString& Display) const {
    for (int i = 0; i < Length(); ++i)
        if (FPositions[i].Required && (i >= Display.size() || !Display[i].isDigit())) return i;
    return -1;
}

// --- TMaskEdit ---------------------------------------------------------------

TMaskEdit::TMaskEdit(const QString& Mask, TMessages& Messages, QWidget* Parent) : TMaskEdit(Parent) {
    SetMessages(Messages);
    SetEditMask(Mask);
}

TMaskEdit::TMaskEdit(QWidget* Parent) : TEdit(Parent) {
    // Drops and the context menu would edit the text behind the mask's back.
    setAcceptDrops(false);
    setContextMenuPolicy(Qt::NoContextMenu);
}

void TMaskEdit::SetEditMask(const QString& Mask) {
    FMask = TEditMask(Mask);
    setMaxLength(FMask.Length());
    SetDisplay(FMask.EmptyDisplay(), 0);
    FModified = false;
}

QString TMaskEdit::Text() const { return FMask.TextOf(text()); }

void TMaskEdit::SetText(const QString& Value) {
    SetDisplay(FMask.DisplayOf(Value), 0);
    FModified = false;
}

void TMaskEdit::Clear() { SetText({}); }

void TMaskEdit::ValidateEdit() {
    const int empty = FMask.FirstEmptyRequired(text());
    if (!FModified || empty < 0) return;
    QApplication::beep();
    deselect();
    setCursorPosition(empty);
    throw std::runtime_error(kInvalidMaskInput);
}

bool TMaskEdit::CanExit() {
    if (!FModified || FMask.FirstEmptyRequired(text()) < 0) return true;
    // Take the focus back before telling, so the box the operator was leaving for
    // never gets it (and never runs its own exit check).
    setFocus(Qt::OtherFocusReason);
    ValidateAndShow();
    return false;
}

void TMaskEdit::ValidateAndShow() {
    if (FMessages) {
        RunAction(*FMessages, [this] { ValidateEdit(); });
        return;
    }
    TDialogMessages boxes(window());
    RunAction(boxes, [this] { ValidateEdit(); });
}

void TMaskEdit::focusInEvent(QFocusEvent* Event) {
    // Coming back from a message box, or being held by the check, is no new visit.
    if (!FVisiting) {
        FVisiting = true;
        FSavedDisplay = text();
        FSavedModified = FModified;
    }
    TEdit::focusInEvent(Event);
}

void TMaskEdit::focusOutEvent(QFocusEvent* Event) {
    TEdit::focusOutEvent(Event);
    const auto reason = Event->reason();
    if (!hasFocus() && reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
        FVisiting = false;
}

void TMaskEdit::keyPressEvent(QKeyEvent* Event) {
    const int key = Event->key();
    if (Event == QKeySequence::Paste) {
        Paste();
    } else if (Event == QKeySequence::Cut) {
        copy();
        if (hasSelectedText()) ClearRange(selectionStart(), selectionEnd());
    } else if (Event == QKeySequence::Copy || Event == QKeySequence::SelectAll || key == Qt::Key_Left ||
               key == Qt::Key_Right || key == Qt::Key_Home || key == Qt::Key_End) {
        QLineEdit::keyPressEvent(Event);
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
    } else if (Event->text().size() == 1 && Event->text()[0].isPrint() &&
               !(Event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        const QChar c = Event->text()[0];
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            if (hasSelectedText()) ClearRange(selectionStart(), selectionEnd());
            TypeDigit(c);
        } else {
            QApplication::beep();
        }
    } else {
        Event->ignore();
        return;
    }
    Event->accept();
}

void TMaskEdit::inputMethodEvent(QInputMethodEvent* Event) {
    // Composed text reaches the box here, not as keys: only its digits are typed.
    const QString committed = Event->commitString();
    if (!committed.isEmpty() && hasSelectedText()) ClearRange(selectionStart(), selectionEnd());
    for (const QChar c : committed)
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) TypeDigit(c);
    Event->accept();
}

void TMaskEdit::TypeDigit(QChar Digit) {
    const int p = NextSlot(cursorPosition());
    if (p < 0) {
        QApplication::beep();
        return;
    }
    QString display = text();
    display[p] = Digit;
    const int after = NextSlot(p + 1);
    SetDisplay(display, after < 0 ? FMask.Length() : after);
    FModified = true;
}

void TMaskEdit::ClearRange(int From, int To) {
    QString display = text();
    for (int i = From; i < To && i < FMask.Length(); ++i)
        if (FMask.IsSlot(i)) display[i] = FMask.Blank();
    if (display != text()) FModified = true;
    SetDisplay(display, From);
}

void TMaskEdit::Paste() {
    const QString pasted = QApplication::clipboard()->text();
    if (hasSelectedText()) ClearRange(selectionStart(), selectionEnd());
    for (const QChar c : pasted)
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            if (NextSlot(cursorPosition()) < 0) break;
            TypeDigit(c);
        }
}

void TMaskEdit::SetDisplay(const QString& Display, int Cursor) {
    setText(Display);
    setCursorPosition(Cursor);
}

int TMaskEdit::NextSlot(int From) const {
    for (int i = std::max(0, From); i < FMask.Length(); ++i)
        if (FMask.IsSlot(i)) return i;
    return -1;
}

int TMaskEdit::PreviousSlot(int Before) const {
    for (int i = std::min(Before, FMask.Length()) - 1; i >= 0; --i)
        if (FMask.IsSlot(i)) return i;
    return -1;
}

}  // namespace tandrel::app

#pragma once

#include "app/Edit.h"

#include <QString>

#include <vector>

namespace tandrel::app {

class TMessages;

/// The error a masked box raises when it is left or Enter is pressed with a required
/// position still empty.
inline constexpr const char* kInvalidMaskInput = "Invalid input value.  Use escape key to abandon changes";

/// A digit mask such as "00\.000\.0000;0;_": "0" a required digit, "9" an optional
/// digit, "\" makes the next character a literal, any other character is a literal, a
/// leading "!" keeps empty optional positions at the left; after the first unescaped ";"
/// come the save-literals flag (only "0", literals not saved, is supported) and the
/// character that shows an empty position.
class TEditMask {
public:
    /// Parses `Mask`; an empty mask has no positions.
    explicit TEditMask(const QString& Mask);

    /// Number of displayed characters.
    int Length() const { return static_cast<int>(FPositions.size()); }
    /// True when position `I` takes a digit.
    bool IsSlot(int I) const { return FPositions[I].Slot; }
    /// True when the digit at position `I` must be typed.
    bool IsRequired(int I) const { return FPositions[I].Required; }
    /// The literal shown at position `I` (only for non-slot positions).
    QChar Literal(int I) const { return FPositions[I].Literal; }
    /// The character that shows an empty position.
    QChar Blank() const { return FBlank; }
    /// True for a mask with a leading "!".
    bool RightAligned() const { return FRightAligned; }
    /// Number of digit positions.
    int SlotCount() const;

    /// The display of an empty box: every slot shown as the blank character.
    QString EmptyDisplay() const;
    /// The box's text for `Display`: the slots' digits without literals; empty slots at the
    /// end (at the beginning for "!" masks) dropped, others given as a blank; "" when all empty.
    QString TextOf(const QString& Display) const;
    /// The display that holds `Text`: its characters laid into the slots in order (a blank
    /// leaves the slot empty), from the first slot, or for "!" masks so that the last one
    /// lands in the last slot; characters beyond the slots are dropped.
    QString DisplayOf(const QString& Text) const;
    /// The first empty required position of `Display`, or -1 when all are filled.
    int FirstEmptyRequired(const QString& Display) const;

private:
    struct Position {
        bool Slot = false;
        bool Required = false;
        QChar Literal;
    };
    std::vector<Position> FPositions;
    QChar FBlank = QLatin1Char('_');
    bool FRightAligned = false;
};

/// A masked edit box: the literals of its mask stay in place, the operator types digits
/// only into the slots, the text is the digits without the literals. Leaving the box after a
/// change, or pressing Enter, with a required slot empty beeps, keeps the focus on that slot
/// and shows `kInvalidMaskInput` through the default error display; the exit hook then does
/// not run. Escape restores what the box held when it got the focus.
class TMaskEdit : public TEdit {
    Q_OBJECT
public:
    /// A box for `Mask`, reporting its errors through `Messages` (which must outlive it).
    TMaskEdit(const QString& Mask, TMessages& Messages, QWidget* Parent = nullptr);
    /// A box with no mask yet, as a form file makes it: `SetEditMask` and `SetMessages` give
    /// it its mask and its error display before it is shown.
    explicit TMaskEdit(QWidget* Parent = nullptr);

    /// The digits without the literals (see `TEditMask::TextOf`).
    QString Text() const override;
    /// Lays the digits of `Value` into the mask; clears the operator's change mark.
    void SetText(const QString& Value) override;
    /// Empties every slot; clears the operator's change mark.
    void Clear() override;
    /// The mask's display, literals and blanks included.
    QString EditText() const { return text(); }
    /// The box's mask.
    const TEditMask& EditMask() const { return FMask; }
    /// Takes the mask `Mask` (notation of `TEditMask`) and empties the box; its maximum
    /// length becomes the mask's displayed length.
    void SetEditMask(const QString& Mask);
    /// Where the box's errors are shown; `Messages` must outlive the box. Until it is set,
    /// they go to a message box of the box's window.
    void SetMessages(TMessages& Messages) { FMessages = &Messages; }
    /// True when the operator changed the box since the program last set it.
    bool Modified() const { return FModified; }

    /// Raises `kInvalidMaskInput` (std::runtime_error) after beeping and putting the cursor on
    /// the first empty required slot, when the box was changed and such a slot is empty.
    void ValidateEdit();

protected:
    void keyPressEvent(QKeyEvent* Event) override;
    void inputMethodEvent(QInputMethodEvent* Event) override;
    void focusInEvent(QFocusEvent* Event) override;
    void focusOutEvent(QFocusEvent* Event) override;
    bool CanExit() override;

private:
    void TypeDigit(QChar Digit);
    void ClearRange(int From, int To);
    void Paste();
    void SetDisplay(const QString& Display, int Cursor);
    void ValidateAndShow();  // ValidateEdit inside the default error display
    int NextSlot(int From) const;
    int PreviousSlot(int Before) const;

    TEditMask FMask{QString()};
    TMessages* FMessages = nullptr;
    bool FModified = false;
    QString FSavedDisplay;
    bool FSavedModified = false;
    bool FVisiting = false;  // between getting the focus and the operator taking it away
};

}  // namespace tandrel::app

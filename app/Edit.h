#pragma once

#include <QLineEdit>

#include <functional>

namespace tandrel::app {

/// Letter case an edit box forces on its text.
enum class TEditCharCase { ecNormal, ecUpperCase, ecLowerCase };

/// An edit box with a forced letter case and an exit hook.
/// The case applies to every change of the text, typed or set by the program.
class TEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TEdit(QWidget* Parent = nullptr);

    /// The box's value: its text (a masked box: its digits without the literals).
    virtual QString Text() const { return text(); }
    /// Sets the box's value (in the forced letter case).
    virtual void SetText(const QString& Value) { setText(Value); }
    /// Empties the box.
    virtual void Clear() { clear(); }

    /// The forced letter case (`ecNormal` by default).
    TEditCharCase CharCase() const { return FCharCase; }
    /// Forces `Value` on the current text and on every later change.
    void SetCharCase(TEditCharCase Value);

    /// Runs when the operator moves the focus from this box to another control (Tab, a click,
    /// a shortcut); not when the window loses the activation or the program moves the focus.
    /// It may move the focus back to this box.
    const std::function<void()>& OnExit() const { return FOnExit; }
    void SetOnExit(std::function<void()> Value) { FOnExit = std::move(Value); }

protected:
    void focusInEvent(QFocusEvent* Event) override;
    void focusOutEvent(QFocusEvent* Event) override;
    /// Called on leaving, before `OnExit`; returns false to keep the focus and skip `OnExit`.
    virtual bool CanExit() { return true; }

private:
    void ApplyCharCase();

    TEditCharCase FCharCase = TEditCharCase::ecNormal;
    std::function<void()> FOnExit;
    bool FHasFocus = false;
};

}  // namespace tandrel::app

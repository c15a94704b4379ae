#include "app/Messages.h"

#include "mail/EAbort.h"

#include <QMessageBox>
#include <QPushButton>
#include <QString>

namespace tandrel::app {

namespace {

// A box is its owner's child and would take the owner's look (the window's white captions
// on buttons without a background): it brings its own, dark text on a light ground.
const char* const kBoxStyle = R"(
QMessageBox { background: #F4F4F4; }
QLabel { color: #1A1A1A; background: transparent; font-family: Arial; font-size: 13px; }
QPushButton { color: #000D1A; background: #FFFFFF; border: 1px solid #7A7A7A; border-radius: 3px;
              font-family: Arial; font-size: 13px; font-weight: normal; min-width: 72px;
              min-height: 24px; padding: 0px 12px; }
QPushButton:focus { border: 2px solid #0080C0; }
QPushButton:pressed { background: #D5D5D5; }
)";

// Shows the box and gives the button that closed it.
int ShowBox(QWidget* parent, QMessageBox::Icon icon, const std::string& text,
            QMessageBox::StandardButtons buttons = QMessageBox::Ok)
{
    QMessageBox box(icon, QString::fromUtf8(kApplicationTitle), QString::fromUtf8(text), buttons,
                    parent);
    box.setStyleSheet(QString::fromLatin1(kBoxStyle));
    if (buttons.testFlag(QMessageBox::No)) {
        box.button(QMessageBox::Yes)->setText(QStringLiteral("Sim"));
        box.button(QMessageBox::No)->setText(QStringLiteral("Não"));
        // The answer that changes nothing is the one a hurried Enter or Escape gives.
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
    }
    return box.exec();
}

// The message of the innermost error of a chain built with std::throw_with_nested;
// false when that error is the silent abort, which shows nothing.
bool InnermostMessage(std::exception_ptr error, std::string& message)
{
    try {
        std::rethrow_exception(error);
    } catch (const mail::EAbort&) {
        return false;
    } catch (const std::exception& e) {
        if (const auto* nested = dynamic_cast<const std::nested_exception*>(&e);
            nested && nested->nested_ptr())
            return InnermostMessage(nested->nested_ptr(), message);
        message = e.what();
        return true;
    } catch (...) {
        message = "Unknown error";
        return true;
    }
}

}  // namespace

void TDialogMessages::ShowMessage(const std::string& text)
{
    ShowBox(FParent, QMessageBox::NoIcon, text);
}

void TDialogMessages::ShowError(const std::string& text)
{
    ShowBox(FParent, QMessageBox::Critical, text);
}

bool TDialogMessages::AskQuestion(const std::string& text)
{
    return ShowBox(FParent, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

std::string ErrorDisplayText(const std::string& message)
{
    if (message.empty() || static_cast<unsigned char>(message.back()) <= '.')
        return message;
    return message + '.';
}

void ShowException(TMessages& messages, std::exception_ptr error) noexcept
{
    try {
        std::string message;
        if (InnermostMessage(error, message))
            messages.ShowError(ErrorDisplayText(message));
    } catch (...) {
        // Showing the error failed too (out of memory): nothing more can be told.
    }
}

void RunAction(TMessages& messages, const std::function<void()>& action) noexcept
{
    try {
        action();
    } catch (...) {
        ShowException(messages, std::current_exception());
    }
}

}  // namespace tandrel::app

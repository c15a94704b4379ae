#include "app/Messages.h"

#include "mail/EAbort.h"

#include <QMessageBox>
#include <QString>

namespace tandrel::app {

namespace {

void ShowBox(QWidget* parent, QMessageBox::Icon icon, const std::string& text)
{
    QMessageBox box(icon, QString::fromUtf8(kApplicationTitle), QString::fromUtf8(text),
                    QMessageBox::Ok, parent);
    box.exec();
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

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
int ShowBox(QWidget* Parent, QMessageBox::Icon Icon, const std::string& Text,
            QMessageBox::StandardButtons Buttons = QMessageBox::Ok) {
    QMessageBox box(Icon, QString::fromUtf8(kApplicationTitle), QString::fromUtf8(Text), Buttons, Parent);
    box.setStyleSheet(QString::fromLatin1(kBoxStyle));
    if (Buttons.testFlag(QMessageBox::No)) {
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
bool InnermostMessage(std::exception_ptr Error, std::string& Message) {
    try {
        std::rethrow_exception(Error);
    } catch (const mail::EAbort&) {
        return false;
    } catch (const std::exception& e) {
        if (const auto* nested = dynamic_cast<const std::nested_exception*>(&e);
            nested && nested->nested_ptr())
            return InnermostMessage(nested->nested_ptr(), Message);
        Message = e.what();
        return true;
    } catch (...) {
        Message = "Unknown error";
        return true;
    }
}

}  // namespace

void TDialogMessages::ShowMessage(const std::string& Text) { ShowBox(FParent, QMessageBox::NoIcon, Text); }

void TDialogMessages::ShowError(const std::string& Text) { ShowBox(FParent, QMessageBox::Critical, Text); }

bool TDialogMessages::AskQuestion(const std::string& Text) {
    return ShowBox(FParent, QMessageBox::Question, Text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

std::string ErrorDisplayText(const std::string& Message) {
    if (Message.empty() || static_cast<unsigned char>(Message.back()) <= '.') return Message;
    return Message + '.';
}

void ShowException(TMessages& Messages, std::exception_ptr Error) noexcept {
    try {
        std::string message;
        if (InnermostMessage(Error, message)) Messages.ShowError(ErrorDisplayText(message));
    } catch (...) {
        // Showing the error failed too (out of memory): nothing more can be told.
    }
}

void RunAction(TMessages& Messages, const std::function<void()>& Action) noexcept {
    try {
        Action();
    } catch (...) {
        ShowException(Messages, std::current_exception());
    }
}

}  // namespace tandrel::app

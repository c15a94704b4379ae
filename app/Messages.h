#pragma once

#include <deque>
#include <exception>
#include <functional>
#include <string>
#include <vector>

class QWidget;

namespace tandrel::app {

/// The program's name: the title of every message box.
inline constexpr const char* kApplicationTitle = "Tandrel";

/// Where the operator's messages go. The window and its boxes talk only to this,
/// so that tests can read what would be shown without a modal box blocking them.
class TMessages {
public:
    virtual ~TMessages() = default;
    /// Shows `Text` (UTF-8) as an information message with one OK button and waits for OK.
    virtual void ShowMessage(const std::string& Text) = 0;
    /// Shows `Text` (UTF-8) as an error with one OK button and waits for OK.
    virtual void ShowError(const std::string& Text) = 0;
    /// Shows `Text` (UTF-8) as a question with the buttons "Sim" and "Não" and waits for
    /// one; true for "Sim". "Não" is the default button and what Escape gives.
    virtual bool AskQuestion(const std::string& Text) = 0;
};

/// The real boxes: modal QMessageBox, title `Tandrel`, one OK button; the information box
/// has no icon, the error box the error icon, the question box the question icon and the
/// buttons "Sim" and "Não". `Parent` (may be null) is the box's owner.
class TDialogMessages final : public TMessages {
public:
    explicit TDialogMessages(QWidget* Parent = nullptr) : FParent(Parent) {}
    void ShowMessage(const std::string& Text) override;
    void ShowError(const std::string& Text) override;
    bool AskQuestion(const std::string& Text) override;
    /// Changes the owner of the boxes shown from now on.
    void SetParent(QWidget* Parent) { FParent = Parent; }

private:
    QWidget* FParent;
};

/// Keeps every text instead of showing it; for tests. Questions are answered from the
/// answers given beforehand, oldest first, and "Não" once none is left.
class TRecordedMessages final : public TMessages {
public:
    struct Entry {
        bool Error;
        std::string Text;
        bool Question = false;
        bool operator==(const Entry&) const = default;
    };
    void ShowMessage(const std::string& Text) override { FEntries.push_back({false, Text}); }
    void ShowError(const std::string& Text) override { FEntries.push_back({true, Text}); }
    bool AskQuestion(const std::string& Text) override {
        FEntries.push_back({false, Text, true});
        if (FAnswers.empty()) return false;
        const bool answer = FAnswers.front();
        FAnswers.pop_front();
        return answer;
    }
    /// The answer to the next question not yet answered: true for "Sim".
    void Answer(bool Sim) { FAnswers.push_back(Sim); }
    /// Everything shown so far, oldest first.
    const std::vector<Entry>& Entries() const { return FEntries; }
    /// Forgets what was shown and the answers not used.
    void Clear() {
        FEntries.clear();
        FAnswers.clear();
    }

private:
    std::vector<Entry> FEntries;
    std::deque<bool> FAnswers;
};

/// The text the error display shows for `Message`: a period is appended unless the
/// message is empty or already ends with a character of code 46 (".") or lower.
std::string ErrorDisplayText(const std::string& Message);

/// The default error display: finds the innermost of `Error`'s nested errors and shows its
/// message through `Messages` (with the period rule); the silent abort shows nothing.
void ShowException(TMessages& Messages, std::exception_ptr Error) noexcept;

/// Runs one operator action: any error escaping `Action` ends it there and goes to the
/// default error display. Nothing escapes, so it is safe inside a Qt slot.
void RunAction(TMessages& Messages, const std::function<void()>& Action) noexcept;

}  // namespace tandrel::app

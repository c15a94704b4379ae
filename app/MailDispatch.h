#pragma once

// How the window sends a mail without freezing: the component's synchronous send runs on a
// short-lived thread while the window's thread keeps painting under a busy cursor.

#include "mail/MainThreadDispatcher.h"

#include <functional>
#include <memory>

class QObject;

namespace tandrel::mail {
class TMailSender;
}

namespace tandrel::app {

/// Runs work on the thread that created it (the window's) through Qt's blocking queued
/// call. That thread must be running events while another thread waits here.
class TMailDispatch final : public mail::IMainThreadDispatcher {
public:
    TMailDispatch();
    ~TMailDispatch() override;
    TMailDispatch(const TMailDispatch&) = delete;
    TMailDispatch& operator=(const TMailDispatch&) = delete;

    /// Runs `Work` on the creating thread and returns once it has run; called from that
    /// thread itself, runs it at once. `Work` must not throw.
    void RunAndWait(std::function<void()> Work) override;

private:
    std::unique_ptr<QObject> FContext;
};

/// Sends `Mail` with its synchronous `Send(false)` and returns when the send has ended. The
/// send runs on a thread of its own while this thread (the window's) keeps running events:
/// the windows paint, timers fire, the cursor is busy, and the operator's input and requests
/// to close a window are dropped. The component's events run on this thread, with that block
/// lifted while they run, so that a message box they show can be answered. Whatever `Send`
/// raised (`EAbort` included) is raised here, on this thread. Nothing else may touch `Mail`
/// meanwhile; its event handlers are the same ones afterwards. Needs a Qt GUI application.
void enviar_aguardando(mail::TMailSender& Mail);

}  // namespace tandrel::app

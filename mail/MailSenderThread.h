#pragma once

#include "mail/MailSender.h"

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace tandrel::mail {

/// Lets one threaded send run at a time. Holding it also waits for the running
/// threaded send to finish (its copy is freed before the lock is released).
std::mutex& MailCriticalSection();

/// Sends a copy of a mail on a thread of its own, which this object owns: destroying it
/// waits for the send to end. The copy's events are relayed to the saved handlers on the
/// main thread through the copy's dispatcher, the sending thread waiting meanwhile (so
/// the main thread must not destroy a send that still has events to relay: it would wait
/// for itself). Errors never leave the thread: the exception handler runs, then the send
/// ends with the silent abort.
class TMailSenderThread {
public:
    /// Starts the send at once; the thread takes ownership of `MailSender`.
    explicit TMailSenderThread(std::unique_ptr<TMailSender> MailSender);
    /// Waits for the send to end.
    ~TMailSenderThread();
    TMailSenderThread(const TMailSenderThread&) = delete;
    TMailSenderThread& operator=(const TMailSenderThread&) = delete;

    /// True once the send has ended and its copy is freed.
    [[nodiscard]] bool Finished() const noexcept { return FFinished; }

    /// Starts a send that the process keeps: one that has ended is released when the
    /// next starts, and those still running are waited for when the program ends.
    static void Start(std::unique_ptr<TMailSender> MailSender);

private:
    void Execute();
    void Synchronize(const std::function<void()>& Work);
    void RelayEvents();

    std::unique_ptr<TMailSender> FMailSender;
    std::exception_ptr FException;
    bool FThrowIt = false;
    TMailStatus FStatus = TMailStatus::pmsStartProcess;
    TOnMailProcess FOnMailProcess;
    TOnMailAttempt FOnMailAttempt;
    TOnMailException FOnMailException;
    TNotifyEvent FOnBeforeMailProcess;
    TNotifyEvent FOnAfterMailProcess;
    TOnCertificateQuestion FOnCertificateQuestion;
    std::atomic<bool> FFinished = false;
    // Last: the thread starts once every other member is made, and is joined before
    // any of them is destroyed.
    std::jthread FThread;
};

}  // namespace tandrel::mail

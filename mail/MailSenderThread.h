#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <mutex>

#include "mail/MailSender.h"

namespace tandrel::mail {

/// Lets one threaded send run at a time. Holding it also waits for the running
/// threaded send to finish (its copy is freed before the lock is released).
std::mutex& MailCriticalSection();

/// Sends a copy of a mail on a thread of its own, which owns the copy and frees it
/// (and itself) when done. The copy's events are relayed to the saved handlers on the
/// main thread through the copy's dispatcher, the sending thread waiting meanwhile.
/// Errors never leave the thread: the exception handler runs, then the send ends with
/// the silent abort.
class TMailSenderThread {
public:
    /// Starts the thread at once; the thread takes ownership of `MailSender`.
    static void Start(std::unique_ptr<TMailSender> MailSender);

private:
    struct Key {
        explicit Key() = default;
    };

public:
    /// Only `Start` makes one.
    TMailSenderThread(Key, std::unique_ptr<TMailSender> MailSender);

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
};

}  // namespace tandrel::mail

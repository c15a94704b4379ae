#include "mail/MailSenderThread.h"

#include <algorithm>
#include <iterator>
#include <vector>

namespace tandrel::mail {

std::mutex& MailCriticalSection() {
    static std::mutex lock;
    return lock;
}

namespace {

/// The sends Start made, kept until a later Start finds them ended.
struct TKeptSends {
    std::mutex Lock;
    std::vector<std::unique_ptr<TMailSenderThread>> Sends;
};

TKeptSends& KeptSends() {
    // Made after the lock the sends take, so destroyed (waiting for the sends still
    // running) while that lock is still there.
    static_cast<void>(MailCriticalSection());
    static TKeptSends kept;
    return kept;
}

}  // namespace

void TMailSenderThread::Start(std::unique_ptr<TMailSender> MailSender) {
    TKeptSends& kept = KeptSends();
    auto send = std::make_unique<TMailSenderThread>(std::move(MailSender));
    std::vector<std::unique_ptr<TMailSenderThread>> ended;
    {
        const std::lock_guard<std::mutex> lock(kept.Lock);
        const auto running = std::stable_partition(kept.Sends.begin(), kept.Sends.end(),
                                                   [](const auto& S) { return !S->Finished(); });
        ended.assign(std::make_move_iterator(running), std::make_move_iterator(kept.Sends.end()));
        kept.Sends.erase(running, kept.Sends.end());
        kept.Sends.push_back(std::move(send));
    }
    // `ended` goes here, outside the lock: its threads are done, so joining them is quick.
}

TMailSenderThread::TMailSenderThread(std::unique_ptr<TMailSender> MailSender)
    : FMailSender(std::move(MailSender)), FThread([this] { Execute(); }) {}

TMailSenderThread::~TMailSenderThread() {
    if (FThread.joinable()) FThread.join();
}

void TMailSenderThread::Synchronize(const std::function<void()>& Work) {
    std::exception_ptr error;
    const auto run = [&] {
        try {
            Work();
        } catch (...) {
            error = std::current_exception();
        }
    };
    if (const auto& dispatcher = FMailSender->MainThreadDispatcher()) {
        dispatcher->RunAndWait(run);
    } else {
        run();
    }
    // A handler's own error goes on in the sending thread as if the handler had run there.
    if (error) std::rethrow_exception(error);
}

void TMailSenderThread::RelayEvents() {
    TMailSender& mail = *FMailSender;
    mail.SetOnMailProcess([this](const TMailSender& AMail, TMailStatus aStatus) {
        FStatus = aStatus;
        if (FOnMailProcess) Synchronize([&] { FOnMailProcess(AMail, FStatus); });
    });
    if (FOnMailAttempt)
        mail.SetOnMailAttempt([this](const TMailSender& AMail, unsigned Attempt) {
            Synchronize([&] { FOnMailAttempt(AMail, Attempt); });
        });
    mail.SetOnBeforeMailProcess([this](const TMailSender& Sender) {
        if (FOnBeforeMailProcess) Synchronize([&] { FOnBeforeMailProcess(Sender); });
    });
    mail.SetOnAfterMailProcess([this](const TMailSender& Sender) {
        if (FOnAfterMailProcess) Synchronize([&] { FOnAfterMailProcess(Sender); });
    });
    mail.SetOnMailException([this](const TMailSender& AMail, const std::exception& E, bool& ThrowIt) {
        FException = std::make_exception_ptr(std::runtime_error(E.what()));
        Synchronize([&] {
            FThrowIt = false;
            if (FOnMailException) FOnMailException(AMail, E, FThrowIt);
        });
        // Nobody is there to catch an error of a threaded send: always end it silently.
        ThrowIt = false;
    });
    if (FOnCertificateQuestion)
        mail.SetOnCertificateQuestion(
            [this](const TMailSender& AMail, const TCertificateQuestion& Question, bool& Trust) {
                Synchronize([&] { FOnCertificateQuestion(AMail, Question, Trust); });
            });
}

void TMailSenderThread::Execute() {
    FStatus = TMailStatus::pmsStartProcess;
    FOnMailProcess = FMailSender->OnMailProcess();
    FOnMailAttempt = FMailSender->OnMailAttempt();
    FOnMailException = FMailSender->OnMailException();
    FOnBeforeMailProcess = FMailSender->OnBeforeMailProcess();
    FOnAfterMailProcess = FMailSender->OnAfterMailProcess();
    FOnCertificateQuestion = FMailSender->OnCertificateQuestion();
    std::lock_guard<std::mutex> oneAtATime(MailCriticalSection());
    RelayEvents();
    FMailSender->SetUseThread(false);
    try {
        FMailSender->SendMail();
    } catch (...) {
        // The silent abort, or an error of a handler or of the build: the caller of
        // Send has long returned, so nothing is raised.
    }
    FMailSender.reset();
    // The handlers may hold what their owner frees once this send is over.
    FOnMailProcess = nullptr;
    FOnMailAttempt = nullptr;
    FOnMailException = nullptr;
    FOnBeforeMailProcess = nullptr;
    FOnAfterMailProcess = nullptr;
    FOnCertificateQuestion = nullptr;
    FException = nullptr;
    FFinished = true;
}

}  // namespace tandrel::mail

#include "app/MailDispatch.h"

#include "app/CepLookup.h"
#include "mail/MailSender.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QThread>

#include <exception>
#include <optional>
#include <thread>

namespace tandrel::app {

namespace {

// Refuses every request to close a window: the click handler that started the send is still
// running and needs its window and table when the send ends.
class TSemFechar final : public QObject {
public:
    TSemFechar() {
        if (QCoreApplication* app = QCoreApplication::instance()) app->installEventFilter(this);
    }
    // Destroying the filter object removes it from the application's filter list.

protected:
    bool eventFilter(QObject*, QEvent* Event) override {
        if (Event->type() != QEvent::Close) return false;
        Event->ignore();
        return true;
    }
};

// The application while the send runs: busy cursor, no input, no window closing.
struct TOcupada {
    TBloqueioEntrada Bloqueio;
    TSemFechar SemFechar;
};

// Opens the application to the operator for the time of one event handler.
class TLiberada {
public:
    explicit TLiberada(std::optional<TOcupada>& Ocupada) : FOcupada(Ocupada) { FOcupada.reset(); }
    ~TLiberada() { FOcupada.emplace(); }
    TLiberada(const TLiberada&) = delete;
    TLiberada& operator=(const TLiberada&) = delete;

private:
    std::optional<TOcupada>& FOcupada;
};

// `Handler`, called from the sending thread, runs on the window's thread instead; what it
// raises is raised again in the sending thread, as if it had run there.
template <class... TArgs>
std::function<void(TArgs...)> NaJanela(std::function<void(TArgs...)> Handler, TMailDispatch& Janela,
                                       std::optional<TOcupada>& Ocupada) {
    if (!Handler) return {};
    return [handler = std::move(Handler), &Janela, &Ocupada](TArgs... Args) {
        std::exception_ptr erro;
        Janela.RunAndWait([&] {
            const TLiberada liberada(Ocupada);
            try {
                handler(Args...);
            } catch (...) {
                erro = std::current_exception();
            }
        });
        if (erro) std::rethrow_exception(erro);
    };
}

// Routes the component's six events through the window's thread for one send, and puts
// the handlers back afterwards.
class TEventosNaJanela {
public:
    TEventosNaJanela(mail::TMailSender& Mail, TMailDispatch& Janela, std::optional<TOcupada>& Ocupada)
        : FMail(Mail),
          FBefore(Mail.OnBeforeMailProcess()),
          FProcess(Mail.OnMailProcess()),
          FAttempt(Mail.OnMailAttempt()),
          FAfter(Mail.OnAfterMailProcess()),
          FException(Mail.OnMailException()),
          FQuestion(Mail.OnCertificateQuestion()) {
        Mail.SetOnBeforeMailProcess(NaJanela(FBefore, Janela, Ocupada));
        Mail.SetOnMailProcess(NaJanela(FProcess, Janela, Ocupada));
        Mail.SetOnMailAttempt(NaJanela(FAttempt, Janela, Ocupada));
        Mail.SetOnAfterMailProcess(NaJanela(FAfter, Janela, Ocupada));
        Mail.SetOnMailException(NaJanela(FException, Janela, Ocupada));
        Mail.SetOnCertificateQuestion(NaJanela(FQuestion, Janela, Ocupada));
    }
    ~TEventosNaJanela() {
        FMail.SetOnBeforeMailProcess(std::move(FBefore));
        FMail.SetOnMailProcess(std::move(FProcess));
        FMail.SetOnMailAttempt(std::move(FAttempt));
        FMail.SetOnAfterMailProcess(std::move(FAfter));
        FMail.SetOnMailException(std::move(FException));
        FMail.SetOnCertificateQuestion(std::move(FQuestion));
    }
    TEventosNaJanela(const TEventosNaJanela&) = delete;
    TEventosNaJanela& operator=(const TEventosNaJanela&) = delete;

private:
    mail::TMailSender& FMail;
    mail::TNotifyEvent FBefore;
    mail::TOnMailProcess FProcess;
    mail::TOnMailAttempt FAttempt;
    mail::TNotifyEvent FAfter;
    mail::TOnMailException FException;
    mail::TOnCertificateQuestion FQuestion;
};

}  // namespace

TMailDispatch::TMailDispatch() : FContext(std::make_unique<QObject>()) {}

TMailDispatch::~TMailDispatch() = default;

void TMailDispatch::RunAndWait(std::function<void()> Work) {
    if (QThread::currentThread() == FContext->thread())
        Work();  // a blocking queued call to its own thread would never return
    else
        QMetaObject::invokeMethod(FContext.get(), std::move(Work), Qt::BlockingQueuedConnection);
}

void enviar_aguardando(mail::TMailSender& Mail) {
    TMailDispatch janela;
    std::optional<TOcupada> ocupada(std::in_place);
    const TEventosNaJanela eventos(Mail, janela, ocupada);
    QObject contexto;
    bool terminou = false;  // written on this thread only, by the sending thread's last post
    std::exception_ptr erro;
    {
        const std::jthread envio([&] {
            try {
                Mail.Send(false);
            } catch (...) {
                erro = std::current_exception();
            }
            QMetaObject::invokeMethod(
                &contexto, [&terminou] { terminou = true; }, Qt::QueuedConnection);
        });
        // Not QEventLoop::exec(): that returns at once while the application is quitting,
        // and the sending thread may still be waiting for this thread to run an event.
        while (!terminou) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    if (erro) std::rethrow_exception(erro);
}

}  // namespace tandrel::app

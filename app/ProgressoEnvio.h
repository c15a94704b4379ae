#pragma once

// What the bottom bar says while a mail is sent.

#include "mail/MailFailure.h"
#include "mail/MailStatus.h"

#include <QString>

namespace tandrel::app {

/// The step a send has reached, in the operator's words ("Conectando ao servidor de
/// e-mail..."), from the mail component's step reports; and, when the login is tried again,
/// which try it is ("... Tentativa 2 de 3...").
class TProgressoEnvio {
public:
    /// The text once the component reports `aStatus`; `Tentativas` is its tries per step.
    /// A new step starts counting its connections afresh.
    QString Passo(mail::TMailStatus aStatus, int Tentativas);
    /// The text once the component tries the current step again, `Tentativa` being the
    /// number of the try. Only the login's tries are told: each waits for a new
    /// connection, while a command tried again on the same one is answered at once.
    QString Tentativa(unsigned Tentativa) const;
    /// The text once the send has failed (at `pmsError`), from what ended it: the step and
    /// the server's reply or the network's error.
    QString Falha(const mail::TMailFailure& Falha);
    /// True from `Falha` to the next step: the bar keeps the failure's line.
    bool Falhou() const { return FFalhou; }

private:
    QString FPasso;
    bool FFalhou = false;
    mail::TMailStatus FEtapa = mail::TMailStatus::pmsStartProcess;
    int FTentativas = 1;
};

}  // namespace tandrel::app

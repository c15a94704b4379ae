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
    /// The text once the component reports `aStatus`; `tentativas` is its tries per step.
    /// A new step starts counting its connections afresh.
    QString Passo(mail::TMailStatus aStatus, int tentativas);
    /// The text once the component's SMTP client opens a connection: the login opens one
    /// at each of its tries, so a second connection in a step is that step's second try.
    QString Conexao();
    /// The text once the send has failed (at `pmsError`), from what ended it: the step and
    /// the server's reply or the network's error.
    QString Falha(const mail::TMailFailure& falha);
    /// True from `Falha` to the next step: the bar keeps the failure's line.
    bool Falhou() const { return FFalhou; }

private:
    QString FPasso;
    bool FFalhou = false;
    int FTentativas = 1;
    int FConexoes = 0;
};

}  // namespace tandrel::app

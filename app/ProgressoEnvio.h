#pragma once

// What the bottom bar says while a mail is sent.

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

private:
    QString FPasso;
    int FTentativas = 1;
    int FConexoes = 0;
};

}  // namespace tandrel::app

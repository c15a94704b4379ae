#pragma once

// What the bottom bar says when a mail could not be sent, and what the operator is asked
// about a server certificate that fails the check.

#include "mail/CertificateTrust.h"
#include "mail/MailFailure.h"

#include <QString>

namespace tandrel::app {

/// One line, "Falha ao enviar o e-mail: " and the cause in the operator's words: the step
/// that failed and the server's reply ("o servidor recusou o destinatário (550 5.1.1 ...)")
/// or the network's error ("tempo esgotado ao conectar"). The server's text is kept to one
/// line, without control characters, cut when very long.
QString TextoFalhaEnvio(const mail::TMailFailure& Falha);

/// The question about a certificate that failed the check: the host, OpenSSL's reason,
/// the SHA-256 fingerprint, and whether to trust it for that host until the program ends.
QString PerguntaCertificado(const mail::TCertificateQuestion& Pergunta);

}  // namespace tandrel::app

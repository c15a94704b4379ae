#include "app/ProgressoEnvio.h"

#include "app/FalhaEnvio.h"

namespace tandrel::app {

namespace {

QString TextoPasso(mail::TMailStatus aStatus) {
    using enum mail::TMailStatus;
    switch (aStatus) {
        case pmsStartProcess:
        case pmsConfigHeaders:
        case pmsAddingMimeParts: return QStringLiteral("Preparando o e-mail...");
        case pmsLoginSMTP: return QStringLiteral("Conectando ao servidor de e-mail...");
        case pmsStartSends: return QStringLiteral("Enviando remetente...");
        case pmsSendTo:
        case pmsSendReplyTo: return QStringLiteral("Enviando destinatário...");
        case pmsSendCC: return QStringLiteral("Enviando cópias...");
        case pmsSendBCC: return QStringLiteral("Enviando cópias ocultas...");
        case pmsSendData: return QStringLiteral("Enviando dados...");
        case pmsLogoutSMTP: return QStringLiteral("Encerrando a conexão...");
        case pmsDone: return QStringLiteral("E-mail enviado.");
        case pmsError: return QStringLiteral("Falha ao enviar o e-mail.");
    }
    return {};
}

}  // namespace

QString TProgressoEnvio::Passo(mail::TMailStatus aStatus, int Tentativas) {
    FPasso = TextoPasso(aStatus);
    FEtapa = aStatus;
    FTentativas = Tentativas;
    FFalhou = false;
    return FPasso;
}

QString TProgressoEnvio::Falha(const mail::TMailFailure& Falha) {
    FPasso = TextoFalhaEnvio(Falha);
    FFalhou = true;
    return FPasso;
}

QString TProgressoEnvio::Tentativa(unsigned Tentativa) const {
    if (FEtapa != mail::TMailStatus::pmsLoginSMTP) return FPasso;
    return FPasso + QStringLiteral(" Tentativa %1 de %2...").arg(Tentativa).arg(FTentativas);
}

}  // namespace tandrel::app

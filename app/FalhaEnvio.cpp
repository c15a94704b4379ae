#include "app/FalhaEnvio.h"

namespace tandrel::app {

namespace {

// Socket error numbers of the failure record (Windows Sockets numbering).
constexpr int kConexaoAbortada = 10053;
constexpr int kConexaoReiniciada = 10054;
constexpr int kTempoEsgotado = 10060;
constexpr int kConexaoRecusada = 10061;
constexpr int kConexaoEncerrada = 10101;
constexpr int kFalhaTls = 10091;
constexpr int kHostNaoEncontrado = 11001;
constexpr int kTenteDeNovo = 11002;
constexpr int kSemEndereco = 11004;

// Longest piece of server text the line carries.
constexpr qsizetype kMaxTexto = 160;

// How a step is told: what the server refused, and what was being done ("ao conectar").
// A step the client decides alone has only its own sentence.
struct TPasso {
    const char* Recusa;
    const char* Fazendo;
};

TPasso PassoDe(mail::TMailFailureStep Passo) {
    using enum mail::TMailFailureStep;
    switch (Passo) {
        case mfsNone: return {"erro desconhecido", nullptr};
        case mfsServer: return {"o servidor de e-mail não foi informado", nullptr};
        case mfsAddress: return {"um endereço de e-mail tem domínio inválido", nullptr};
        case mfsConnect:
        case mfsGreeting: return {"o servidor recusou a conexão", "ao conectar"};
        case mfsCertificate: return {"o certificado do servidor não foi aceito", "ao conectar"};
        case mfsHello: return {"o servidor recusou a identificação (EHLO)", "ao conectar"};
        case mfsStartTLS:
            return {"o servidor recusou a conexão segura (STARTTLS)", "ao iniciar a conexão segura"};
        case mfsDeliveryNotification: return {"o servidor não oferece confirmação de entrega", nullptr};
        case mfsSize: return {"a mensagem é maior do que o servidor aceita", nullptr};
        case mfsAuthUnavailable: return {"o servidor não oferece uma autenticação compatível", nullptr};
        case mfsAuth: return {"o servidor recusou a autenticação", "na autenticação"};
        case mfsSMTPUTF8: return {"o servidor não aceita endereços com acentos", nullptr};
        case mfsMailFrom: return {"o servidor recusou o remetente", "ao enviar o remetente"};
        case mfsMailTo: return {"o servidor recusou o destinatário", "ao enviar o destinatário"};
        case mfsCC: return {"o servidor recusou um destinatário em cópia", "ao enviar as cópias"};
        case mfsBCC:
            return {"o servidor recusou um destinatário em cópia oculta", "ao enviar as cópias ocultas"};
        case mfsData: return {"o servidor recusou a mensagem", "ao enviar a mensagem"};
    }
    return {"erro desconhecido", nullptr};
}

// Text from the server or the network on one line: control characters become blanks,
// runs of blanks one, and a very long text is cut.
QString UmaLinha(const std::string& Texto) {
    QString linha = QString::fromUtf8(Texto);
    for (QChar& c : linha)
        if (c.category() == QChar::Other_Control) c = QLatin1Char(' ');
    linha = linha.simplified();
    if (linha.size() > kMaxTexto) linha = linha.left(kMaxTexto - 1) + QChar(0x2026);
    return linha;
}

QString EntreParenteses(const std::string& Texto) {
    const QString linha = UmaLinha(Texto);
    return linha.isEmpty() ? QString() : QStringLiteral(" (") + linha + QLatin1Char(')');
}

// The network's error while doing `Fazendo`.
QString ErroDeRede(const mail::TMailFailure& Falha, const QString& Fazendo) {
    switch (Falha.SocketError) {
        case kTempoEsgotado: return QStringLiteral("tempo esgotado ") + Fazendo;
        case kConexaoRecusada: return QStringLiteral("o servidor recusou a conexão");
        case kHostNaoEncontrado:
        case kTenteDeNovo:
        case kSemEndereco: return QStringLiteral("servidor não encontrado");
        case kConexaoAbortada:
        case kConexaoReiniciada: return QStringLiteral("a conexão caiu ") + Fazendo;
        case kConexaoEncerrada: return QStringLiteral("o servidor encerrou a conexão ") + Fazendo;
        case kFalhaTls:
            return QStringLiteral("falha na conexão segura ") + Fazendo +
                   EntreParenteses(Falha.SocketErrorDesc);
        default:
            return QStringLiteral("erro de rede ") + Fazendo +
                   EntreParenteses(std::to_string(Falha.SocketError) + " " + Falha.SocketErrorDesc);
    }
}

QString Causa(const mail::TMailFailure& Falha) {
    const TPasso passo = PassoDe(Falha.Step);
    const QString recusa = QString::fromUtf8(passo.Recusa);
    if (passo.Fazendo == nullptr) return recusa;
    const QString fazendo = QString::fromUtf8(passo.Fazendo);
    if (Falha.Step == mail::TMailFailureStep::mfsCertificate)
        return recusa + EntreParenteses(Falha.SocketErrorDesc);
    if (Falha.SocketError != 0) return ErroDeRede(Falha, fazendo);
    // Code 0: no reply, or a refusal the client made itself; it is no server's refusal.
    if (Falha.ResultCode == 0)
        return QStringLiteral("falha ") + fazendo + EntreParenteses(Falha.ResultString);
    return recusa + EntreParenteses(Falha.ResultString);
}

}  // namespace

QString TextoFalhaEnvio(const mail::TMailFailure& Falha) {
    return QStringLiteral("Falha ao enviar o e-mail: ") + Causa(Falha);
}

QString PerguntaCertificado(const mail::TCertificateQuestion& Pergunta) {
    const QString host = QString::fromUtf8(Pergunta.Host);
    // Thirty-two pairs in two lines of sixteen: each half fits the box.
    const QString digital = QString::fromUtf8(Pergunta.Fingerprint);
    const qsizetype meio = digital.size() / 2 + 1;
    return QStringLiteral(
               "O certificado do servidor de e-mail \"%1\" não pôde ser verificado:\n%2\n\n"
               "Impressão digital SHA-256 do certificado:\n%3\n%4\n\n"
               "Confiar neste certificado para \"%1\" até o programa ser fechado?")
        .arg(host, UmaLinha(Pergunta.Reason), digital.left(meio - 1), digital.mid(meio));
}

}  // namespace tandrel::app

// The bottom bar's line after a failed send and the question about a certificate: what
// the operator reads for each way a send can fail.
#include "app/FalhaEnvio.h"

#include <QTest>

using namespace tandrel::app;
using tandrel::mail::TCertificateQuestion;
using tandrel::mail::TMailFailure;
using enum tandrel::mail::TMailFailureStep;

Q_DECLARE_METATYPE(TMailFailure)

namespace {

TMailFailure Falha(tandrel::mail::TMailFailureStep Passo, int Codigo, const char* Resposta, int Erro = 0,
                   const char* Texto = "") {
    TMailFailure falha;
    falha.Step = Passo;
    falha.ResultCode = Codigo;
    falha.ResultString = Resposta;
    falha.SocketError = Erro;
    falha.SocketErrorDesc = Texto;
    return falha;
}

}  // namespace

class TstFalhaEnvio : public QObject {
    Q_OBJECT

private slots:
    void lineSaysWhichStepFailedAndWhy_data() {
        QTest::addColumn<TMailFailure>("falha");
        QTest::addColumn<QString>("linha");
        const QString f = QStringLiteral("Falha ao enviar o e-mail: ");
        QTest::newRow("recipient refused")
            << Falha(mfsMailTo, 550, "550 5.1.1 <ana@exemplo.com.br>: Recipient address rejected")
            << f + "o servidor recusou o destinatário (550 5.1.1 <ana@exemplo.com.br>: Recipient address "
                   "rejected)";
        QTest::newRow("connect timed out")
            << Falha(mfsConnect, 0, "", 10060, "Connection timed out") << f + "tempo esgotado ao conectar";
        QTest::newRow("greeting timed out")
            << Falha(mfsGreeting, 0, "", 10060, "Connection timed out") << f + "tempo esgotado ao conectar";
        QTest::newRow("nobody listens")
            << Falha(mfsConnect, 0, "", 10061, "Connection refused") << f + "o servidor recusou a conexão";
        QTest::newRow("host unknown")
            << Falha(mfsConnect, 0, "", 11001, "Host not found") << f + "servidor não encontrado";
        QTest::newRow("greeting refused") << Falha(mfsGreeting, 554, "554 5.3.2 no service")
                                          << f + "o servidor recusou a conexão (554 5.3.2 no service)";
        QTest::newRow("tls failed")
            << Falha(mfsConnect, 0, "", 10091, "error:0A00010B:SSL routines::wrong version number")
            << f + "falha na conexão segura ao conectar (error:0A00010B:SSL routines::wrong "
                   "version number)";
        QTest::newRow("certificate") << Falha(mfsCertificate, 0, "", 10091,
                                              "error:0A000086:SSL routines::certificate verify failed: "
                                              "hostname mismatch")
                                     << f + "o certificado do servidor não foi aceito (error:0A000086:SSL "
                                            "routines::certificate verify "
                                            "failed: hostname mismatch)";
        // Code 0 is no server's refusal: the client's own, here for a server without STARTTLS.
        QTest::newRow("no starttls") << Falha(mfsStartTLS, 0,
                                              "530 5.7.0 Refused: the server does not offer STARTTLS")
                                     << f + "falha ao iniciar a conexão segura (530 5.7.0 Refused: the "
                                            "server does not offer STARTTLS)";
        QTest::newRow("login refused")
            << Falha(mfsAuth, 535, "535 5.7.8 Error: authentication failed")
            << f + "o servidor recusou a autenticação (535 5.7.8 Error: authentication "
                   "failed)";
        QTest::newRow("sender refused")
            << Falha(mfsMailFrom, 553, "553 5.7.1 Sender address rejected")
            << f + "o servidor recusou o remetente (553 5.7.1 Sender address rejected)";
        QTest::newRow("dropped at the sender") << Falha(mfsMailFrom, 0, "", 10054, "Connection reset by peer")
                                               << f + "a conexão caiu ao enviar o remetente";
        QTest::newRow("closed at the sender") << Falha(mfsMailFrom, 0, "", 10101, "Disconnect")
                                              << f + "o servidor encerrou a conexão ao enviar o remetente";
        QTest::newRow("message refused") << Falha(mfsData, 552, "552 5.3.4 Message too big")
                                         << f + "o servidor recusou a mensagem (552 5.3.4 Message too big)";
        QTest::newRow("other network error")
            << Falha(mfsData, 0, "", 10065, "No route to host")
            << f + "erro de rede ao enviar a mensagem (10065 No route to host)";
        QTest::newRow("no server") << Falha(mfsServer, 0, "") << f + "o servidor de e-mail não foi informado";
        QTest::newRow("accented address")
            << Falha(mfsSMTPUTF8, 0, "") << f + "o servidor não aceita endereços com acentos";
        QTest::newRow("too large") << Falha(mfsSize, 0, "")
                                   << f + "a mensagem é maior do que o servidor aceita";
        // The server's text stays on one line, its own accents kept, its controls blanked.
        QTest::newRow("server text on one line")
            << Falha(mfsMailTo, 550, "550 5.1.1 usuário\x1B[2J inexistente\r\n\tem exemplo")
            << f + "o servidor recusou o destinatário (550 5.1.1 usuário [2J inexistente em exemplo)";
        QTest::newRow("very long text is cut")
            << Falha(mfsData, 554, ("554 " + std::string(300, 'x')).c_str())
            << f + "o servidor recusou a mensagem (554 " + QString(155, QLatin1Char('x')) + QChar(0x2026) +
                   ")";
    }

    void lineSaysWhichStepFailedAndWhy() {
        QFETCH(TMailFailure, falha);
        QTEST(TextoFalhaEnvio(falha), "linha");
    }

    void questionNamesHostReasonAndFingerprint() {
        QString fingerprint;
        for (int i = 0; i < 32; ++i)
            fingerprint +=
                (i ? ":" : "") + QStringLiteral("%1").arg(i * 7 % 256, 2, 16, QLatin1Char('0')).toUpper();
        const QString pergunta = PerguntaCertificado(
            TCertificateQuestion{"smtp.loja.com.br", "hostname mismatch", fingerprint.toStdString()});
        const QStringList lines = pergunta.split('\n');
        QCOMPARE(lines.size(), 8);
        QCOMPARE(lines[0],
                 QStringLiteral(
                     "O certificado do servidor de e-mail \"smtp.loja.com.br\" não pôde ser verificado:"));
        QCOMPARE(lines[1], QStringLiteral("hostname mismatch"));
        QCOMPARE(lines[4] + ":" + lines[5], fingerprint);
        QCOMPARE(lines[4].size(), 47);  // sixteen pairs
        QCOMPARE(lines[7],
                 QStringLiteral("Confiar neste certificado para \"smtp.loja.com.br\" até o programa ser "
                                "fechado?"));
    }
};

QTEST_MAIN(TstFalhaEnvio)
#include "tst_falhaenvio.moc"

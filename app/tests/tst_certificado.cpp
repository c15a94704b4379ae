// The window and the server's certificate, end to end: a provider whose certificate names
// its own host, not the one the shop typed, reached through aiosmtpd on this machine under
// the machine's own name (which no check exempts). The operator is asked; "Não" ends the send
// with nothing sent after the handshake, "Sim" sends and is remembered until the program
// ends. Loopback names are never asked about.
#include "app/Edit.h"
#include "app/Frm_cadastro.h"
#include "app/MaskEdit.h"
#include "app/Messages.h"
#include "app/tests/FormControls.h"
#include "app/tests/SmtpTestServer.h"
#include "mail/MailSender.h"

#include <QFile>
#include <QHostAddress>
#include <QHostInfo>
#include <QProcess>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace tandrel::app;
using tandrel::app::testing::TSmtpTestServer;

namespace {

const QString kDesignMessage = QStringLiteral(
    "Dados foram Gravados mas ocorreu \r*** Erro ao Enviar o email ***\r"
    "******    Verifique !!  ******");

// Runs openssl in `Dir`; its standard output, empty when it failed.
QByteArray OpenSsl(const QString& Dir, const QStringList& Args) {
    QProcess openssl;
    openssl.setWorkingDirectory(Dir);
    openssl.start(QStringLiteral("openssl"), Args);
    if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0) return {};
    return openssl.readAllStandardOutput();
}

}  // namespace

class TstCertificado : public QObject {
    Q_OBJECT

private:
    QTemporaryDir FCerts;
    QTemporaryDir FFolder;
    QString FFingerprint;  // "AB:CD:..." of the provider's certificate
    QString FMachine;      // this machine's name, when it leads to 127.0.0.1

    QString Cert() const { return FCerts.filePath(QStringLiteral("provedor.pem")); }
    QString Key() const { return FCerts.filePath(QStringLiteral("provedor.key")); }

    std::unique_ptr<TSmtpTestServer> Server() {
        auto server = std::make_unique<TSmtpTestServer>(
            QStringList{"--mode", "smtps", "--cert", Cert(), "--key", Key(), "--user", "loja", "--password",
                        "s3nha", "--require-auth", "--record"});
        if (!server->Start()) qFatal("%s", qPrintable(server->Error()));
        return server;
    }

    std::unique_ptr<TFrm_cadastro> Window(TMessages& Messages, const TSmtpTestServer& Server,
                                          const QString& Host) {
        auto form = std::make_unique<TFrm_cadastro>(Messages, [] { return QDate(2026, 12, 9); });
        testing::Control<TEdit>(*form, "ed_dir_xml")->setText(FFolder.path() + "/");
        testing::Control<TEdit>(*form, "ed_host")->setText(Host);
        testing::Control<TEdit>(*form, "ed_porta")->setText(Server.PortText());
        testing::Control<TEdit>(*form, "ed_conta_email")->setText(QStringLiteral("loja"));
        testing::Control<TEdit>(*form, "ed_senha_email")->setText(QStringLiteral("s3nha"));
        // The provider's authority stands for the system's: the chain holds, only the name fails.
        form->MailSender1().SetCertCAFile(Cert().toStdString());
        form->MailSender1().SetTimeOut(20000);  // a broken test ends instead of waiting for ever
        return form;
    }

    static void Include(TFrm_cadastro& Form, TMessages& Messages, const QString& Nome) {
        Form.btn_incluirClick();
        testing::Control<TEdit>(Form, "ed_nome")->setText(Nome);
        testing::Control<TEdit>(Form, "ed_email")->setText(QStringLiteral("cliente@example.com"));
        testing::Control<TMaskEdit>(Form, "ed_cep")->SetText(QStringLiteral("01001000"));
        RunAction(Messages, [&] { Form.btn_gravarClick(); });
    }

    static QString Bar(const TFrm_cadastro& Form) {
        return testing::Control<QStatusBar>(Form, "stb_envio")->currentMessage();
    }

    // The question as the operator reads it: the host, OpenSSL's reason, the fingerprint
    // (in two lines of sixteen pairs).
    void CheckQuestion(const TRecordedMessages::Entry& Entry) const {
        QVERIFY(Entry.Question);
        const QString text = QString::fromStdString(Entry.Text);
        QVERIFY2(text.contains("\"" + FMachine + "\""), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("hostname mismatch")), qPrintable(text));
        QVERIFY2(text.contains(FFingerprint.left(47) + "\n" + FFingerprint.mid(48)), qPrintable(text));
    }

private slots:
    void initTestCase() {
        QVERIFY(FCerts.isValid() && FFolder.isValid());
        OpenSsl(FCerts.path(),
                {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                 "/CN=smtp.provedor.example", "-addext", "subjectAltName=DNS:smtp.provedor.example",
                 "-keyout", Key(), "-out", Cert()});
        QVERIFY(QFile::exists(Cert()));
        const QByteArray digest =
            OpenSsl(FCerts.path(), {"x509", "-in", Cert(), "-noout", "-fingerprint", "-sha256"});
        FFingerprint = QString::fromLatin1(digest.mid(digest.indexOf('=') + 1).trimmed());
        QCOMPARE(FFingerprint.size(), 95);
        const QString name = QHostInfo::localHostName();
        if (name.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) != 0 &&
            QHostInfo::fromName(name).addresses().contains(QHostAddress(QHostAddress::LocalHost)))
            FMachine = name;
    }

    // The questions need a name that is checked and still reaches loopback.
    void init() {
        if (FMachine.isEmpty() && QByteArray(QTest::currentTestFunction()) != "loopbackIsNeverQuestioned")
            QSKIP(
                "this machine's name does not lead to 127.0.0.1: no name that the check does not exempt "
                "reaches "
                "a server on loopback");
    }

    void naoFailsTheSendAndNothingIsSentAfterTheHandshake() {
        auto server = Server();
        TRecordedMessages messages;
        messages.Answer(false);
        auto form = Window(messages, *server, FMachine);
        Include(*form, messages, QStringLiteral("ANA"));

        QCOMPARE(messages.Entries().size(), std::size_t(2));
        CheckQuestion(messages.Entries()[0]);
        QCOMPARE(messages.Entries()[1], (TRecordedMessages::Entry{false, kDesignMessage.toStdString()}));
        QCOMPARE(testing::ShownPage(*form), testing::Control(*form, "tbs_dados"));
        QCOMPARE(form->MTClientes().RecordCount(), 1);
        QVERIFY(QFile::exists(FFolder.filePath(QStringLiteral("Cliente_001_09122026.xml"))));
        QVERIFY(server->Mails().isEmpty());
        QCOMPARE(server->OutFile(QStringLiteral("received.bin")), QByteArray());  // no login, no mail
        QCOMPARE(server->OutFile(QStringLiteral("auth.log")), QByteArray());
        QVERIFY(form->MailSender1().TrustedCertificates().empty());
        const QString bar = Bar(*form);
        QVERIFY2(bar.startsWith(
                     QStringLiteral("Falha ao enviar o e-mail: o certificado do servidor não foi aceito (")),
                 qPrintable(bar));
        QVERIFY2(bar.contains(QStringLiteral("hostname mismatch")), qPrintable(bar));
    }

    void simSendsAndTrustsTheCertificateUntilTheProgramEnds() {
        auto server = Server();
        TRecordedMessages messages;
        messages.Answer(true);
        auto form = Window(messages, *server, FMachine);
        Include(*form, messages, QStringLiteral("ANA"));
        QCOMPARE(messages.Entries().size(), std::size_t(1));
        CheckQuestion(messages.Entries()[0]);
        QCOMPARE(server->Mails().size(), 1);
        QCOMPARE(server->Mails()[0].Get("auth"), QStringLiteral("loja"));
        QCOMPARE(server->Mails()[0].Get("tls"), QStringLiteral("yes"));

        // The next customer of the run goes without a question.
        Include(*form, messages, QStringLiteral("BIA"));
        QCOMPARE(messages.Entries().size(), std::size_t(1));
        QCOMPARE(server->Mails().size(), 2);

        // Nothing was saved: the program started again asks again.
        form.reset();
        messages.Clear();
        auto again = Window(messages, *server, FMachine);
        Include(*again, messages, QStringLiteral("CAIO"));
        QCOMPARE(messages.Entries().size(), std::size_t(2));
        CheckQuestion(messages.Entries()[0]);
        QCOMPARE(server->Mails().size(), 2);
    }

    void loopbackIsNeverQuestioned_data() {
        QTest::addColumn<QString>("host");
        QTest::newRow("address") << "127.0.0.1";
        QTest::newRow("localhost") << "localhost";
    }

    void loopbackIsNeverQuestioned() {
        QFETCH(QString, host);
        auto server = Server();
        TRecordedMessages messages;
        auto form = Window(messages, *server, host);
        Include(*form, messages, QStringLiteral("ANA"));
        QVERIFY(messages.Entries().empty());
        QCOMPARE(server->Mails().size(), 1);
        QVERIFY(!form->MailSender1().VerifyCert());
    }
};

QTEST_MAIN(TstCertificado)
#include "tst_certificado.moc"

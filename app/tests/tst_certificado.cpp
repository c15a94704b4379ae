// The window and the server's certificate, end to end: a provider whose certificate names
// its own host, not the one the shop typed, reached through aiosmtpd on this machine under
// the machine's own name (which no check exempts). The operator is asked; "Não" ends the send
// with nothing sent after the handshake, "Sim" sends and is remembered until the program
// ends. Loopback names are never asked about.
#include "app/tests/FormControls.h"
#include "app/tests/SmtpTestServer.h"
#include "app/Edit.h"
#include "app/Frm_cadastro.h"
#include "app/MaskEdit.h"
#include "app/Messages.h"
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

const QString kDesignMessage = QStringLiteral("Dados foram Gravados mas ocorreu \r*** Erro ao Enviar o email ***\r"
                                              "******    Verifique !!  ******");

// Runs openssl in `dir`; its standard output, empty when it failed.
QByteArray OpenSsl(const QString& dir, const QStringList& args)
{
    QProcess openssl;
    openssl.setWorkingDirectory(dir);
    openssl.start(QStringLiteral("openssl"), args);
    if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0)
        return {};
    return openssl.readAllStandardOutput();
}

}  // namespace

class TstCertificado : public QObject {
    Q_OBJECT

private:
    QTemporaryDir certs;
    QTemporaryDir folder;
    QString fingerprint;  // "AB:CD:..." of the provider's certificate
    QString machine;      // this machine's name, when it leads to 127.0.0.1

    QString Cert() const { return certs.filePath(QStringLiteral("provedor.pem")); }
    QString Key() const { return certs.filePath(QStringLiteral("provedor.key")); }

    std::unique_ptr<TSmtpTestServer> Server()
    {
        auto server = std::make_unique<TSmtpTestServer>(
            QStringList{"--mode", "smtps", "--cert", Cert(), "--key", Key(), "--user", "loja", "--password",
                        "s3nha", "--require-auth", "--record"});
        if (!server->Start())
            qFatal("%s", qPrintable(server->Error()));
        return server;
    }

    std::unique_ptr<TFrm_cadastro> Window(TMessages& messages, const TSmtpTestServer& server, const QString& host)
    {
        auto form = std::make_unique<TFrm_cadastro>(messages, [] { return QDate(2026, 12, 9); });
        testing::Control<TEdit>(*form, "ed_dir_xml")->setText(folder.path() + "/");
        testing::Control<TEdit>(*form, "ed_host")->setText(host);
        testing::Control<TEdit>(*form, "ed_porta")->setText(server.PortText());
        testing::Control<TEdit>(*form, "ed_conta_email")->setText(QStringLiteral("loja"));
        testing::Control<TEdit>(*form, "ed_senha_email")->setText(QStringLiteral("s3nha"));
        // The provider's authority stands for the system's: the chain holds, only the name fails.
        form->MailSender1().SetCertCAFile(Cert().toStdString());
        form->MailSender1().SetTimeOut(20000);  // a broken test ends instead of waiting for ever
        return form;
    }

    static void Include(TFrm_cadastro& form, TMessages& messages, const QString& nome)
    {
        form.btn_incluirClick();
        testing::Control<TEdit>(form, "ed_nome")->setText(nome);
        testing::Control<TEdit>(form, "ed_email")->setText(QStringLiteral("cliente@example.com"));
        testing::Control<TMaskEdit>(form, "ed_cep")->SetText(QStringLiteral("01001000"));
        RunAction(messages, [&] { form.btn_gravarClick(); });
    }

    static QString Bar(const TFrm_cadastro& form)
    {
        return testing::Control<QStatusBar>(form, "stb_envio")->currentMessage();
    }

    // The question as the operator reads it: the host, OpenSSL's reason, the fingerprint
    // (in two lines of sixteen pairs).
    void CheckQuestion(const TRecordedMessages::Entry& entry) const
    {
        QVERIFY(entry.Question);
        const QString text = QString::fromStdString(entry.Text);
        QVERIFY2(text.contains("\"" + machine + "\""), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("hostname mismatch")), qPrintable(text));
        QVERIFY2(text.contains(fingerprint.left(47) + "\n" + fingerprint.mid(48)), qPrintable(text));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(certs.isValid() && folder.isValid());
        OpenSsl(certs.path(), {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                               "/CN=smtp.provedor.example", "-addext", "subjectAltName=DNS:smtp.provedor.example",
                               "-keyout", Key(), "-out", Cert()});
        QVERIFY(QFile::exists(Cert()));
        const QByteArray digest = OpenSsl(certs.path(), {"x509", "-in", Cert(), "-noout", "-fingerprint", "-sha256"});
        fingerprint = QString::fromLatin1(digest.mid(digest.indexOf('=') + 1).trimmed());
        QCOMPARE(fingerprint.size(), 95);
        const QString name = QHostInfo::localHostName();
        if (name.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) != 0 &&
            QHostInfo::fromName(name).addresses().contains(QHostAddress(QHostAddress::LocalHost)))
            machine = name;
    }

    // The questions need a name that is checked and still reaches loopback.
    void init()
    {
        if (machine.isEmpty() && QByteArray(QTest::currentTestFunction()) != "loopbackIsNeverQuestioned")
            QSKIP("this machine's name does not lead to 127.0.0.1: no name that the check does not exempt reaches "
                  "a server on loopback");
    }

    void naoFailsTheSendAndNothingIsSentAfterTheHandshake()
    {
        auto server = Server();
        TRecordedMessages messages;
        messages.Answer(false);
        auto form = Window(messages, *server, machine);
        Include(*form, messages, QStringLiteral("ANA"));

        QCOMPARE(messages.Entries().size(), std::size_t(2));
        CheckQuestion(messages.Entries()[0]);
        QCOMPARE(messages.Entries()[1], (TRecordedMessages::Entry{false, kDesignMessage.toStdString()}));
        QCOMPARE(testing::ShownPage(*form), testing::Control(*form, "tbs_dados"));
        QCOMPARE(form->MTClientes().RecordCount(), 1);
        QVERIFY(QFile::exists(folder.filePath(QStringLiteral("Cliente_001_09122026.xml"))));
        QVERIFY(server->Mails().isEmpty());
        QCOMPARE(server->OutFile(QStringLiteral("received.bin")), QByteArray());  // no login, no mail
        QCOMPARE(server->OutFile(QStringLiteral("auth.log")), QByteArray());
        QVERIFY(form->MailSender1().TrustedCertificates().empty());
        const QString bar = Bar(*form);
        QVERIFY2(bar.startsWith(QStringLiteral("Falha ao enviar o e-mail: o certificado do servidor não foi aceito (")),
                 qPrintable(bar));
        QVERIFY2(bar.contains(QStringLiteral("hostname mismatch")), qPrintable(bar));
    }

    void simSendsAndTrustsTheCertificateUntilTheProgramEnds()
    {
        auto server = Server();
        TRecordedMessages messages;
        messages.Answer(true);
        auto form = Window(messages, *server, machine);
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
        auto again = Window(messages, *server, machine);
        Include(*again, messages, QStringLiteral("CAIO"));
        QCOMPARE(messages.Entries().size(), std::size_t(2));
        CheckQuestion(messages.Entries()[0]);
        QCOMPARE(server->Mails().size(), 2);
    }

    void loopbackIsNeverQuestioned_data()
    {
        QTest::addColumn<QString>("host");
        QTest::newRow("address") << "127.0.0.1";
        QTest::newRow("localhost") << "localhost";
    }

    void loopbackIsNeverQuestioned()
    {
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

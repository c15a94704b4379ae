// One inclusion mailed end to end through the real window: the parameters page typed to point
// at an aiosmtpd server with implicit TLS and a login, a customer typed and saved, and the
// message the server received taken apart; then the same with the server gone.
#include "app/Edit.h"
#include "app/Frm_cadastro.h"
#include "app/MaskEdit.h"
#include "app/Messages.h"
#include "app/tests/FormControls.h"
#include "app/tests/SmtpTestServer.h"
#include "mail/MailSender.h"

#include <QCheckBox>
#include <QFile>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace tandrel::app;
using tandrel::app::testing::TSmtpTestServer;

namespace {

const QString kSender = QStringLiteral("vendas@loja.example");
const QString kAccount = QStringLiteral("loja");
const QString kPassword = QStringLiteral("Senha de Teste 1");

}  // namespace

class TstMailE2e : public QObject {
    Q_OBJECT

private:
    TRecordedMessages FMessages;
    TSmtpTestServer FServer{
        {"--mode", "smtps", "--user", kAccount, "--password", kPassword, "--require-auth", "--smtputf8"}};
    QTemporaryDir FFolder;
    std::unique_ptr<TFrm_cadastro> FForm;

    QString Folder() const { return FFolder.path() + "/"; }

    template <typename T = QWidget>
    T* W(const char* Name) const {
        return testing::Control<T>(*FForm, Name);
    }
    void Click(const char* Name) { testing::ClickControl(*FForm, Name); }
    QWidget* Page() const { return testing::ShownPage(*FForm); }
    int Rows() const { return W<QTableView>("GridClientes")->model()->rowCount(); }

    // Types `Text` key by key into an emptied box, each key carrying its character.
    void Type(const char* Name, const QString& Text) {
        auto* box = W<TEdit>(Name);
        box->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(box, Qt::Key_Delete);
        box->setCursorPosition(0);
        for (const QChar c : Text)
            QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }

    // The parameters page typed as the operator would, then back to the list.
    void PointAtServer() {
        Click("btn_config");
        Type("ed_dir_xml", Folder());
        Type("ed_email_de", kSender);
        Type("ed_host", QStringLiteral("127.0.0.1"));
        Type("ed_porta", FServer.PortText());
        Type("ed_conta_email", kAccount);
        Type("ed_senha_email", kPassword);
        Click("btn_voltar_config");
    }

    // Incluir, the thirteen boxes, Salvar; the CEP is typed but nothing looks it up.
    void Include(const QString& Nome, const QString& Email) {
        Click("btn_incluir");
        const std::pair<const char*, QString> boxes[] = {{"ed_nome", Nome},
                                                         {"ed_ident", "123456789"},
                                                         {"ed_cpf", "12345678901"},
                                                         {"ed_fone", "11912345678"},
                                                         {"ed_email", Email},
                                                         {"ed_cep", "01001000"},
                                                         {"ed_logradouro", "PRAÇA DA SÉ"},
                                                         {"ed_num", "100"},
                                                         {"ed_complemento", "LADO ÍMPAR"},
                                                         {"ed_bairro", "SÉ"},
                                                         {"ed_cidade", "SÃO PAULO"},
                                                         {"ed_uf", "SP"},
                                                         {"ed_pais", "BRASIL"}};
        for (const auto& [name, text] : boxes) Type(name, text);
        Click("btn_gravar");
    }

    static QByteArray HeaderLine(const QByteArray& Raw, const QByteArray& Name) {
        const QByteArray header = Raw.left(Raw.indexOf("\r\n\r\n"));
        for (const QByteArray& line : header.split('\n'))
            if (line.startsWith(Name + ": ")) return line.trimmed();
        return {};
    }

private slots:
    void initTestCase() {
        QVERIFY(FFolder.isValid());
        QVERIFY2(FServer.Start(), qPrintable(FServer.Error()));
        FForm = std::make_unique<TFrm_cadastro>(FMessages, [] { return QDate(2026, 12, 9); });
        FForm->show();
        QVERIFY(QTest::qWaitForWindowExposed(FForm.get()));
        PointAtServer();
        QVERIFY(W<QCheckBox>("chkSSL")->isChecked());
        QVERIFY(W<QCheckBox>("chkTLS")->isChecked());
    }

    void cleanupTestCase() { FForm.reset(); }

    void inclusionIsMailedOverImplicitTlsWithLogin() {
        // The window's sockets speak TLS through OpenSSL.
        QCOMPARE(FForm->MailSender1().SMTP().Sock().SSL().LibName(), std::string("tls_openssl"));

        Include(QStringLiteral("JOÃO DA SILVA"), QStringLiteral("joao.silva@example.com"));
        QVERIFY(FMessages.Entries().empty());
        QCOMPARE(Page(), W("tbs_dados"));
        QVERIFY(W("pnl_menu_left")->isEnabled());
        QCOMPARE(Rows(), 1);

        const auto mails = FServer.Mails();
        QCOMPARE(mails.size(), 1);
        const auto& mail = mails[0];
        QCOMPARE(mail.Get("mail_from"), kSender);
        QCOMPARE(mail.All("rcpt"), QStringList{"joao.silva@example.com"});
        QCOMPARE(mail.Get("auth"), kAccount);
        QCOMPARE(HeaderLine(mail.Raw(), "From"), QByteArray(R"(From: "suporte" <vendas@loja.example>)"));
        QCOMPARE(mail.Get("to"), QStringLiteral(R"("joao.silva@example.com" <joao.silva@example.com>)"));
        QCOMPARE(mail.Get("subject"), QStringLiteral("Dados Cadastrais do Cliente"));
        QCOMPARE(mail.Get("x-mailer"), QStringLiteral("Tandrel - MailSender"));
        QVERIFY2(QRegularExpression(QStringLiteral("^<[0-9a-f]{32}@loja\\.example>$"))
                     .match(mail.Get("message-id"))
                     .hasMatch(),
                 qPrintable(mail.Get("message-id")));

        const auto parts = mail.Parts();
        QCOMPARE(parts.size(), 2);
        QCOMPARE(parts[0].ContentType, QStringLiteral("text/plain"));
        QCOMPARE(parts[0].Disposition, QStringLiteral("inline"));
        QCOMPARE(parts[0].Charset, QStringLiteral("UTF-8"));
        const QStringList lines{
            "Nome : JOÃO DA SILVA",
            "Ident : 123456789",
            "CPF : 12345678901",
            "Telefone : 11912345678",
            "Email : joao.silva@example.com",
            "CEP : 01001000",
            "Logradouro : PRAÇA DA SÉ, Num : 100",
            "Complemento : LADO ÍMPAR",
            "Bairro : SÉ",
            "Cidade : SÃO PAULO - SP",
            "Pais : BRASIL",
        };
        QCOMPARE(parts[0].Payload, "\xEF\xBB\xBF" + (lines.join("\r\n") + "\r\n").toUtf8());

        const QString name = QStringLiteral("Cliente_001_09122026.xml");
        QCOMPARE(parts[1].ContentType, QStringLiteral("text/xml"));
        QCOMPARE(parts[1].Disposition, QStringLiteral("attachment"));
        QCOMPARE(parts[1].FileName, name);
        QCOMPARE(parts[1].Charset, QStringLiteral("UTF-8"));  // as the file's declaration says
        QFile file(Folder() + name);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray xml = file.readAll();
        QVERIFY(xml.contains(QStringLiteral("JOÃO DA SILVA").toUtf8()));
        QCOMPARE(parts[1].Payload, xml);
    }

    // The box forces lower case on what is typed; the server, which offers SMTPUTF8, gets the
    // accented local part in UTF-8 and the accented domain as its A-label, in the envelope
    // and in the header alike.
    void customerWithAccentedAddressIsMailed() {
        Include(QStringLiteral("JOSÉ"), QStringLiteral("JOSÉ@AÇAÍ.COM.BR"));
        QVERIFY(FMessages.Entries().empty());
        QCOMPARE(QString::fromStdString(FForm->MTClientes().FieldByName("email").AsString()),
                 QStringLiteral("josé@açaí.com.br"));
        const auto mails = FServer.Mails();
        QCOMPARE(mails.size(), 2);
        const auto& mail = mails[1];
        QCOMPARE(mail.All("rcpt"), QStringList{"josé@xn--aa-4iaz.com.br"});
        QCOMPARE(mail.All("to_addr"), mail.All("rcpt"));
        QCOMPARE(mail.Get("to"), QStringLiteral(R"("josé@açaí.com.br" <josé@xn--aa-4iaz.com.br>)"));
        QVERIFY(mail.Get("mail_options").split(QLatin1Char(' ')).contains(QStringLiteral("SMTPUTF8")));
        QVERIFY(mail.Parts()[0].Payload.contains(QStringLiteral("Email : josé@açaí.com.br").toUtf8()));
    }

    void stoppedServerTellsTheOperatorAndKeepsTheCustomer() {
        const auto sent = FServer.Mails().size();
        FServer.Stop();
        const int rows = Rows();
        Include(QStringLiteral("MARIA"), QStringLiteral("maria@example.com"));
        QCOMPARE(FMessages.Entries(),
                 (std::vector<TRecordedMessages::Entry>{
                     {false,
                      "Dados foram Gravados mas ocorreu \r*** Erro ao Enviar o email ***\r"
                      "******    Verifique !!  ******"}}));
        QCOMPARE(Page(), W("tbs_dados"));
        QVERIFY(W("pnl_menu_left")->isEnabled());
        QCOMPARE(Rows(), rows + 1);
        QCOMPARE(QString::fromStdString(FForm->MTClientes().FieldByName("Nome").AsString()),
                 QStringLiteral("MARIA"));
        QVERIFY(QFile::exists(Folder() + "Cliente_003_09122026.xml"));
        QCOMPARE(FServer.Mails().size(), sent);  // nothing more
    }
};

QTEST_MAIN(TstMailE2e)
#include "tst_mail_e2e.moc"

// Pictures of the three pages, of the message boxes, of the question about a server's
// certificate and of the bottom bar's line after a failed send, written under the build
// folder (screenshots/*.png) so the layout can be checked by eye; the texts of the boxes
// and of the bar are measured against their backgrounds.
#include "app/Edit.h"
#include "app/Frm_cadastro.h"
#include "app/MaskEdit.h"
#include "app/Messages.h"
#include "mail/MailSender.h"
#include "testing/ChildProcess.h"
#include "testing/PythonSmtpServer.h"
#include "testing/ScriptedSmtpServer.h"
#include "testing/TempDir.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QHostAddress>
#include <QHostInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <map>

namespace {

// Relative luminance of a colour (WCAG 2).
double Luminance(const QColor& C) {
    const auto channel = [](double V) {
        return V <= 0.03928 ? V / 12.92 : std::pow((V + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(C.redF()) + 0.7152 * channel(C.greenF()) + 0.0722 * channel(C.blueF());
}

double Contrast(const QColor& A, const QColor& B) {
    const double la = Luminance(A);
    const double lb = Luminance(B);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// How the text drawn in `Area` of `Picture` stands out: its background is the area's most
// frequent colour, its text the colour farthest from that (a glyph's solid core).
double TextContrast(const QImage& Picture, const QRect& Area) {
    std::map<QRgb, int> counts;
    for (int y = Area.top(); y <= Area.bottom(); ++y)
        for (int x = Area.left(); x <= Area.right(); ++x) ++counts[Picture.pixel(x, y)];
    if (counts.empty()) return 0;
    const QColor background =
        std::max_element(counts.begin(), counts.end(), [](const auto& A, const auto& B) {
            return A.second < B.second;
        })->first;
    double best = 1;
    for (const auto& [rgb, n] : counts) best = std::max(best, Contrast(QColor(rgb), background));
    return best;
}

// What the operator saw of one message box.
struct TBoxSeen {
    bool Seen = false;
    QString Text;
    double TextContrast = 0;
    double OkContrast = 0;  // the lowest of its buttons' captions
};

// One box expected while an action runs: the name of its picture and the button pressed.
struct TBoxExpected {
    QString Name;
    QMessageBox::StandardButton Press = QMessageBox::Ok;
};

}  // namespace

using namespace tandrel::app;

class TstScreenshots : public QObject {
    Q_OBJECT

private:
    TRecordedMessages FMessages;

    static void Save(QWidget& Form, const QString& Name) {
        const QString dir = QStringLiteral(TANDREL_BINARY_DIR "/screenshots");
        QVERIFY(QDir().mkpath(dir));
        const QPixmap picture = Form.grab();
        QCOMPARE(picture.size() / picture.devicePixelRatio(), QSize(1007, 662));
        QVERIFY(picture.save(dir + "/" + Name + ".png"));
    }

    template <typename T>
    static T* W(QWidget& Form, const char* Name) {
        return Form.findChild<T*>(QString::fromLatin1(Name));
    }

    // The window pointed at a mail server on this machine, its XML files in `Folder`, shown.
    static void PointAt(TFrm_cadastro& Form, const QTemporaryDir& Folder, const QString& Host,
                        const std::string& Port, bool Tls) {
        W<TEdit>(Form, "ed_dir_xml")->setText(Folder.path() + "/");
        W<TEdit>(Form, "ed_host")->setText(Host);
        W<TEdit>(Form, "ed_porta")->setText(QString::fromStdString(Port));
        W<QCheckBox>(Form, "chkSSL")->setChecked(Tls);
        W<QCheckBox>(Form, "chkTLS")->setChecked(Tls);
        Form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&Form));
    }

    // A new customer with a name and a CEP (and an address), not saved yet.
    static void NewCustomer(TFrm_cadastro& Form, const QString& Nome, const QString& Email = {}) {
        Form.btn_incluirClick();
        W<TEdit>(Form, "ed_nome")->setText(Nome);
        W<TEdit>(Form, "ed_email")->setText(Email);
        W<TMaskEdit>(Form, "ed_cep")->SetText("01001000");
    }

    // Runs `Action`, which shows one real message box: its picture is saved as `Name`, its
    // text and its OK caption measured, and its OK pressed as the operator would.
    static TBoxSeen SeeBox(const QString& Name, const std::function<void()>& Action) {
        return SeeBoxes({{Name}}, Action).front();
    }

    // The same for the boxes `Action` shows one after the other: each picture saved, each
    // text and each button's caption measured, the expected button pressed.
    static std::vector<TBoxSeen> SeeBoxes(const std::vector<TBoxExpected>& Expected,
                                          const std::function<void()>& Action) {
        std::vector<TBoxSeen> seen(Expected.size());
        std::size_t next = 0;
        QMessageBox* last = nullptr;
        QTimer poll;
        poll.setInterval(20);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || box == last || next == Expected.size()) return;
            last = box;
            TBoxSeen& now = seen[next];
            const TBoxExpected& wanted = Expected[next++];
            now.Seen = true;
            now.Text = box->text();
            const QString dir = QStringLiteral(TANDREL_BINARY_DIR "/screenshots");
            QDir().mkpath(dir);
            box->grab().save(dir + "/" + wanted.Name + ".png");
            for (QAbstractButton* button : box->buttons())
                button->setIcon(QIcon());  // only the captions are measured
            const QImage picture = box->grab().toImage();
            const QMargins border(3, 3, 3, 3);
            now.OkContrast = 21;
            for (QAbstractButton* button : box->buttons())
                now.OkContrast = std::min(
                    now.OkContrast,
                    TextContrast(
                        picture,
                        QRect(button->mapTo(box, QPoint(0, 0)), button->size()).marginsRemoved(border)));
            for (const QLabel* label : box->findChildren<QLabel*>())
                if (label->text() == box->text())
                    now.TextContrast =
                        TextContrast(picture, QRect(label->mapTo(box, QPoint(0, 0)), label->size()));
            QTest::mouseClick(box->button(wanted.Press), Qt::LeftButton);
        });
        poll.start();
        Action();
        return seen;
    }

    // The bottom bar of `Form` as the operator sees it: its picture saved as `Name` (the
    // whole window, for the context) and the contrast of its text.
    static double SeeBar(QWidget& Form, const QString& Name) {
        Save(Form, Name);
        auto* bar = W<QStatusBar>(Form, "stb_envio");
        const QImage picture = Form.grab().toImage();
        const qreal ratio = picture.devicePixelRatio();
        const QRect area(bar->mapTo(&Form, QPoint(0, 0)), bar->size());
        return TextContrast(picture, QRect(area.topLeft() * ratio, area.size() * ratio));
    }

private slots:
    void threePages() {
        QTemporaryDir folder;
        TFrm_cadastro form(FMessages, [] { return QDate(2026, 12, 9); });
        W<TEdit>(form, "ed_dir_xml")->setText(folder.path() + "/");
        // No mail server: each send fails at once and is told, which the pictures ignore.
        W<TEdit>(form, "ed_host")->setText("127.0.0.1");
        W<TEdit>(form, "ed_porta")->setText("1");
        W<QCheckBox>(form, "chkSSL")->setChecked(false);
        W<QCheckBox>(form, "chkTLS")->setChecked(false);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const char* names[] = {"JOÃO DA SILVA", "MARIA JOANA SOUZA", "JOSÉ D'AVILA", "ANA PAULA LIMA"};
        int n = 0;
        for (const char* name : names) {
            form.btn_incluirClick();
            W<TEdit>(form, "ed_nome")->setText(QString::fromUtf8(name));
            W<TMaskEdit>(form, "ed_ident")->SetText(QStringLiteral("12345678%1").arg(n));
            W<TMaskEdit>(form, "ed_cpf")->SetText(QStringLiteral("1234567890%1").arg(n));
            W<TMaskEdit>(form, "ed_fone")->SetText(QStringLiteral("1191234567%1").arg(n));
            W<TMaskEdit>(form, "ed_cep")->SetText(QStringLiteral("0100100%1").arg(n++));
            RunAction(FMessages, [&] { form.btn_gravarClick(); });
        }
        QCOMPARE(form.MTClientes().RecordCount(), 4);
        Save(form, "list");

        form.btn_alterarClick();
        W<TEdit>(form, "ed_email")->setText("ana@example.com");
        W<TEdit>(form, "ed_logradouro")->setText("Praça da Sé");
        W<TEdit>(form, "ed_num")->setText("100");
        W<TEdit>(form, "ed_complemento")->setText("lado ímpar");
        W<TEdit>(form, "ed_bairro")->setText("Sé");
        W<TEdit>(form, "ed_cidade")->setText("São Paulo");
        W<TEdit>(form, "ed_uf")->setText("SP");
        W<TEdit>(form, "ed_pais")->setText("Brasil");
        Save(form, "registration");
        form.btn_cancelarClick();

        TFrm_cadastro fresh(FMessages, [] { return QDate(2026, 12, 9); });
        fresh.show();
        QVERIFY(QTest::qWaitForWindowExposed(&fresh));
        fresh.btn_configClick();
        Save(fresh, "parameters");
    }

    void messageBoxesCanBeRead() {
        QTemporaryDir folder;
        tandrel::testing::ScriptedSmtpServer server;
        // The boxes belong to the window, as in the program, so its style reaches them.
        TDialogMessages dialogs;
        TFrm_cadastro form(dialogs, [] { return QDate(2026, 12, 9); });
        dialogs.SetParent(&form);
        PointAt(form, folder, "127.0.0.1", server.Port(), false);
        form.btn_incluirClick();
        const TBoxSeen required =
            SeeBox("message", [&] { RunAction(dialogs, [&] { form.btn_gravarClick(); }); });

        // The server hangs up at once on every try: the mail failure box.
        server.SetGreeting(tandrel::testing::ScriptedSmtpServer::kClose);
        W<TEdit>(form, "ed_nome")->setText("ANA");
        W<TMaskEdit>(form, "ed_cep")->SetText("01001000");
        const TBoxSeen failure =
            SeeBox("mail-failure", [&] { RunAction(dialogs, [&] { form.btn_gravarClick(); }); });

        QVERIFY(required.Seen);
        QCOMPARE(required.Text, QStringLiteral("Preenchimento Obrigatorio"));
        QVERIFY(failure.Seen);
        QVERIFY(failure.Text.contains("*** Erro ao Enviar o email ***"));
        QCOMPARE(form.MTClientes().RecordCount(), 1);
        for (const TBoxSeen& box : {required, failure}) {
            QVERIFY2(box.OkContrast >= 4.5, qPrintable(QString::number(box.OkContrast)));
            QVERIFY2(box.TextContrast >= 4.5, qPrintable(QString::number(box.TextContrast)));
        }
    }

    // A mistyped customer address, told on the bottom bar.
    void failureLineCanBeRead() {
        QTemporaryDir folder;
        tandrel::testing::ScriptedSmtpServer server;
        for (int i = 0; i < 3; ++i)
            server.Queue("RCPT", "550 5.1.1 <ana@exemplo.com.br>: Recipient address rejected: User unknown");
        TFrm_cadastro form(FMessages, [] { return QDate(2026, 12, 9); });
        PointAt(form, folder, "127.0.0.1", server.Port(), false);
        NewCustomer(form, "ANA", "ana@exemplo.com.br");
        RunAction(FMessages, [&] { form.btn_gravarClick(); });
        QCOMPARE(W<QStatusBar>(form, "stb_envio")->currentMessage(),
                 QStringLiteral("Falha ao enviar o e-mail: o servidor recusou o destinatário (550 5.1.1 "
                                "<ana@exemplo.com.br>: Recipient address rejected: User unknown)"));
        const double contrast = SeeBar(form, "failure-line");
        QVERIFY2(contrast >= 4.5, qPrintable(QString::number(contrast)));
    }

    // The question about a provider's certificate that names the provider's host, not the
    // one typed; answered "Não", then the design's box, then the bar says why.
    void certificateQuestionCanBeRead() {
        const QString machine = QHostInfo::localHostName();
        if (machine.compare("localhost", Qt::CaseInsensitive) == 0 ||
            !QHostInfo::fromName(machine).addresses().contains(QHostAddress(QHostAddress::LocalHost)))
            QSKIP(
                "this machine's name does not lead to 127.0.0.1: no name that the check does not exempt "
                "reaches a server on loopback");
        tandrel::testing::TempDir certs;
        const std::string cert = (certs.Path() / "cert.pem").string();
        const std::string key = (certs.Path() / "key.pem").string();
        tandrel::testing::ChildProcess openssl(
            {"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
             "/CN=smtp.provedor.example", "-addext", "subjectAltName=DNS:smtp.provedor.example", "-keyout",
             key, "-out", cert},
            {.MergeStderr = true});
        QCOMPARE(openssl.Wait(), 0);
        tandrel::testing::PythonSmtpServer server({"--mode", "smtps", "--cert", cert, "--key", key});
        QTemporaryDir folder;
        TDialogMessages dialogs;
        TFrm_cadastro form(dialogs, [] { return QDate(2026, 12, 9); });
        dialogs.SetParent(&form);
        form.MailSender1().SetCertCAFile(cert);  // the provider's authority stands for the system's
        PointAt(form, folder, machine, server.PortText(), true);
        NewCustomer(form, "ANA");
        const auto boxes =
            SeeBoxes({{"certificate-question", QMessageBox::No}, {"mail-failure-after-question"}},
                     [&] { RunAction(dialogs, [&] { form.btn_gravarClick(); }); });
        QVERIFY(boxes[0].Seen && boxes[1].Seen);
        QVERIFY(boxes[0].Text.contains("\"" + machine + "\""));
        QVERIFY(boxes[0].Text.contains("hostname mismatch"));
        QVERIFY(boxes[1].Text.contains("*** Erro ao Enviar o email ***"));
        for (const TBoxSeen& box : boxes) {
            QVERIFY2(box.OkContrast >= 4.5, qPrintable(QString::number(box.OkContrast)));
            QVERIFY2(box.TextContrast >= 4.5, qPrintable(QString::number(box.TextContrast)));
        }
        QVERIFY(server.Messages().empty());
        const double contrast = SeeBar(form, "failure-line-certificate");
        QVERIFY2(contrast >= 4.5, qPrintable(QString::number(contrast)));
        QVERIFY(W<QStatusBar>(form, "stb_envio")
                    ->currentMessage()
                    .contains("o certificado do servidor não foi aceito"));
    }
};

QTEST_MAIN(TstScreenshots)
#include "tst_screenshots.moc"

// Pictures of the three pages and of the message boxes, written under the build folder
// (screenshots/*.png) so the layout can be checked by eye; the boxes' texts are measured
// against their backgrounds.
#include "app/Edit.h"
#include "app/Frm_cadastro.h"
#include "app/MaskEdit.h"
#include "app/Messages.h"
#include "testing/ScriptedSmtpServer.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <map>

namespace {

// Relative luminance of a colour (WCAG 2).
double Luminance(const QColor& c)
{
    const auto channel = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

double Contrast(const QColor& a, const QColor& b)
{
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// How the text drawn in `area` of `picture` stands out: its background is the area's most
// frequent colour, its text the colour farthest from that (a glyph's solid core).
double TextContrast(const QImage& picture, const QRect& area)
{
    std::map<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++counts[picture.pixel(x, y)];
    if (counts.empty())
        return 0;
    const QColor background = std::max_element(counts.begin(), counts.end(), [](const auto& a, const auto& b) {
                                  return a.second < b.second;
                              })->first;
    double best = 1;
    for (const auto& [rgb, n] : counts)
        best = std::max(best, Contrast(QColor(rgb), background));
    return best;
}

// What the operator saw of one message box.
struct TBoxSeen {
    bool Seen = false;
    QString Text;
    double TextContrast = 0;
    double OkContrast = 0;
};

}  // namespace

using namespace tandrel::app;

class TstScreenshots : public QObject {
    Q_OBJECT

private:
    TRecordedMessages messages;

    static void Save(QWidget& form, const QString& name)
    {
        const QString dir = QStringLiteral(TANDREL_BINARY_DIR "/screenshots");
        QVERIFY(QDir().mkpath(dir));
        const QPixmap picture = form.grab();
        QCOMPARE(picture.size() / picture.devicePixelRatio(), QSize(1007, 662));
        QVERIFY(picture.save(dir + "/" + name + ".png"));
    }

    template <typename T>
    static T* W(QWidget& form, const char* name)
    {
        return form.findChild<T*>(QString::fromLatin1(name));
    }

    // Runs `action`, which shows one real message box: its picture is saved as `name`, its
    // text and its OK caption measured, and its OK pressed as the operator would.
    static TBoxSeen SeeBox(const QString& name, const std::function<void()>& action)
    {
        TBoxSeen seen;
        QTimer poll;
        poll.setInterval(20);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || seen.Seen)
                return;
            seen.Seen = true;
            seen.Text = box->text();
            const QString dir = QStringLiteral(TANDREL_BINARY_DIR "/screenshots");
            QDir().mkpath(dir);
            box->grab().save(dir + "/" + name + ".png");
            auto* ok = qobject_cast<QPushButton*>(box->button(QMessageBox::Ok));
            ok->setIcon(QIcon());  // only the caption is measured
            const QImage picture = box->grab().toImage();
            const QMargins border(3, 3, 3, 3);
            seen.OkContrast = TextContrast(
                picture, QRect(ok->mapTo(box, QPoint(0, 0)), ok->size()).marginsRemoved(border));
            for (const QLabel* label : box->findChildren<QLabel*>())
                if (label->text() == box->text())
                    seen.TextContrast = TextContrast(picture, QRect(label->mapTo(box, QPoint(0, 0)), label->size()));
            QTest::mouseClick(ok, Qt::LeftButton);
        });
        poll.start();
        action();
        return seen;
    }

private slots:
    void threePages()
    {
        QTemporaryDir folder;
        TFrm_cadastro form(messages, [] { return QDate(2026, 12, 9); });
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
            RunAction(messages, [&] { form.btn_gravarClick(); });
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

        TFrm_cadastro fresh(messages, [] { return QDate(2026, 12, 9); });
        fresh.show();
        QVERIFY(QTest::qWaitForWindowExposed(&fresh));
        fresh.btn_configClick();
        Save(fresh, "parameters");
    }

    void messageBoxesCanBeRead()
    {
        QTemporaryDir folder;
        tandrel::testing::ScriptedSmtpServer server;
        // The boxes belong to the window, as in the program, so its style reaches them.
        TDialogMessages dialogs;
        TFrm_cadastro form(dialogs, [] { return QDate(2026, 12, 9); });
        dialogs.SetParent(&form);
        W<TEdit>(form, "ed_dir_xml")->setText(folder.path() + "/");
        W<TEdit>(form, "ed_host")->setText("127.0.0.1");
        W<TEdit>(form, "ed_porta")->setText(QString::fromStdString(server.Port()));
        W<QCheckBox>(form, "chkSSL")->setChecked(false);
        W<QCheckBox>(form, "chkTLS")->setChecked(false);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        form.btn_incluirClick();
        const TBoxSeen required = SeeBox("message", [&] { RunAction(dialogs, [&] { form.btn_gravarClick(); }); });

        // The server hangs up at once on every try: the mail failure box.
        server.SetGreeting(tandrel::testing::ScriptedSmtpServer::kClose);
        W<TEdit>(form, "ed_nome")->setText("ANA");
        W<TMaskEdit>(form, "ed_cep")->SetText("01001000");
        const TBoxSeen failure = SeeBox("mail-failure", [&] { RunAction(dialogs, [&] { form.btn_gravarClick(); }); });

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
};

QTEST_MAIN(TstScreenshots)
#include "tst_screenshots.moc"

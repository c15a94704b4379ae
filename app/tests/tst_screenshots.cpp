// Pictures of the three pages, written under the build folder (screenshots/*.png) so the
// layout can be checked by eye.
#include "app/Edit.h"
#include "app/Frm_cadastro.h"
#include "app/MaskEdit.h"
#include "app/Messages.h"

#include <QCheckBox>
#include <QDir>
#include <QTemporaryDir>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>

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
};

QTEST_MAIN(TstScreenshots)
#include "tst_screenshots.moc"

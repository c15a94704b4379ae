// The window's CEP box and lookup button against a loopback stand-in of the postal-code
// service: what leaving the box and clicking the button fill, tell and where the focus ends.
#include "app/DMDados.h"
#include "app/Edit.h"
#include "app/Frm_cadastro.h"
#include "app/MaskEdit.h"
#include "app/Messages.h"
#include "app/tests/CepTestServer.h"

#include <QAbstractButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace tandrel::app;

class TstFrmCep : public QObject {
    Q_OBJECT

private:
    testing::TCepTestServer FServer;
    QString FBaseUrl;
    TRecordedMessages FMessages;
    std::unique_ptr<TDMDados> FDados;
    std::unique_ptr<TFrm_cadastro> FForm;

    TEdit* E(const char* Name) const { return FForm->findChild<TEdit*>(Name); }
    TMaskEdit* Cep() const { return FForm->findChild<TMaskEdit*>("ed_cep"); }

    QStringList Address() const {
        QStringList texts;
        for (const char* name : {"ed_logradouro", "ed_complemento", "ed_bairro", "ed_cidade", "ed_uf"})
            texts << E(name)->text();
        return texts;
    }

    // Types `Digits` into the CEP box, then presses Tab.
    void TypeCepAndLeave(const QString& Digits) {
        Cep()->setFocus(Qt::MouseFocusReason);
        Cep()->setCursorPosition(0);
        QTest::keyClicks(Cep(), Digits);
        QTest::keyClick(Cep(), Qt::Key_Tab);
    }

    QStringList Shown() const {
        QStringList texts;
        for (const auto& e : FMessages.Entries()) texts << QString::fromStdString(e.Text);
        return texts;
    }

private slots:
    void initTestCase() {
        QVERIFY2(FServer.Start(), "cannot start the stand-in service");
        FBaseUrl = FServer.BaseURL();
    }

    void init() {
        FMessages.Clear();
        FForm = std::make_unique<TFrm_cadastro>(FMessages, [] { return QDate(2026, 12, 9); });
        FDados = std::make_unique<TDMDados>(FBaseUrl);
        FForm->SetDMDados(FDados.get());
        FForm->show();
        QVERIFY(QTest::qWaitForWindowActive(FForm.get()));
        FForm->btn_incluirClick();
        E("ed_num")->setText("12");
        E("ed_pais")->setText("BRASIL");
    }

    void cleanup() {
        FForm.reset();
        FDados.reset();
    }

    void leavingTheBox_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("address");
        const QStringList none{"", "", "", "", ""};
        QTest::newRow("found, in upper case")
            << "01001000"
            << "" << QStringList{"PRAÇA DA SÉ", "LADO ÍMPAR", "SÉ", "SÃO PAULO", "SP"};
        QTest::newRow("letters erro in the address")
            << "13000000"
            << "" << QStringList{"RUA CERRO AZUL", "", "ATERRO", "CAMPINAS", "SP"};
        QTest::newRow("five digits pass the mask, not the lookup") << "01001"
                                                                   << "CEP inválido" << none;
        QTest::newRow("unknown code") << "99999998"
                                      << "CEP não encontrado" << none;
        QTest::newRow("status 400") << "40000000"
                                    << "Erro ao consultar CEP" << none;
    }

    void leavingTheBox() {
        QFETCH(QString, typed);
        QFETCH(QString, message);
        TypeCepAndLeave(typed);
        QCOMPARE(Shown(), message.isEmpty() ? QStringList() : QStringList{message});
        QTEST(Address(), "address");
        // Found: the operator moves on; otherwise the box keeps the focus.
        QCOMPARE(Cep()->hasFocus(), !message.isEmpty());
        QCOMPARE(E("ed_num")->text(), QStringLiteral("12"));
        QCOMPARE(E("ed_pais")->text(), QStringLiteral("BRASIL"));
    }

    void leavingEmptyAsksForIt() {
        Cep()->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(Cep(), Qt::Key_Tab);
        QCOMPARE(Shown(), QStringList{"PREENCHIMENTO OBRIGATORIO"});
        QVERIFY(Cep()->hasFocus());
    }

    void buttonWithAnEmptyBox() {
        QTest::mouseClick(FForm->findChild<QAbstractButton*>("btn_cons_cep"), Qt::LeftButton);
        QCOMPARE(Shown(), QStringList{"CEP inválido"});
        QVERIFY(Cep()->hasFocus());
    }

    void repeatedLookupOverwritesTheComplement() {
        TypeCepAndLeave("01001000");
        E("ed_complemento")->setText("APTO 3");
        QTest::mouseClick(FForm->findChild<QAbstractButton*>("btn_cons_cep"), Qt::LeftButton);
        QCOMPARE(E("ed_complemento")->text(), QStringLiteral("LADO ÍMPAR"));
        QVERIFY(FMessages.Entries().empty());
    }

    void noAnswerGoesToTheErrorDisplay() {
        FDados = std::make_unique<TDMDados>(QStringLiteral("http://127.0.0.1:1/ws/"));
        FForm->SetDMDados(FDados.get());
        TypeCepAndLeave("01001000");
        QCOMPARE(FMessages.Entries().size(), std::size_t(1));
        QVERIFY(FMessages.Entries()[0].Error);
        QCOMPARE(Address(), (QStringList{"", "", "", "", ""}));
    }
};

QTEST_MAIN(TstFrmCep)
#include "tst_frm_cep.moc"

// The window driven as the operator does: menu and page buttons, typing, Tab, the
// messages, the id rule, the summary lines, the name search and the grid.
#include "app/Edit.h"
#include "app/Frm_cadastro.h"
#include "app/MaskEdit.h"
#include "app/Messages.h"
#include "app/tests/FormControls.h"
#include "app/tests/SmtpTestServer.h"
#include "mail/MailSender.h"
#include "testing/ScriptedSmtpServer.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTableView>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <map>
#include <memory>

using namespace tandrel::app;

namespace {

struct Customer {
    QString Nome = QStringLiteral("JOÃO DA SILVA");
    QString Ident = QStringLiteral("123456789");
    QString Cpf = QStringLiteral("12345678901");
    QString Fone = QStringLiteral("11912345678");
    QString Email = QStringLiteral("joao@example.com");
    QString Cep = QStringLiteral("01001000");
    QString Logradouro = QStringLiteral("PRAÇA DA SÉ");
    QString Num = QStringLiteral("100");
    QString Complemento = QStringLiteral("LADO ÍMPAR");
    QString Bairro = QStringLiteral("SÉ");
    QString Cidade = QStringLiteral("SÃO PAULO");
    QString Uf = QStringLiteral("SP");
    QString Pais = QStringLiteral("BRASIL");
};

}  // namespace

class TstFrmCadastro : public QObject {
    Q_OBJECT

private:
    TRecordedMessages FMessages;
    // The loopback SMTP server the parameters page points at, with the page's default login.
    tandrel::app::testing::TSmtpTestServer FServer{
        {"--mode", "plain", "--user", "suporte@localhost", "--password", "senha"}};
    qsizetype FMailsSeen = 0;
    std::unique_ptr<QTemporaryDir> FFolder;  // the XML folder of each test
    std::unique_ptr<TFrm_cadastro> FForm;

    QString Folder() const { return FFolder->path() + "/"; }
    QString FileOf(int Id) const {
        return Folder() + QStringLiteral("Cliente_%1_09122026.xml").arg(Id, 3, 10, QChar('0'));
    }

    std::unique_ptr<TFrm_cadastro> NewWindow() {
        auto w = std::make_unique<TFrm_cadastro>(FMessages, [] { return QDate(2026, 12, 9); });
        w->findChild<TEdit*>("ed_dir_xml")->setText(Folder());
        w->findChild<TEdit*>("ed_host")->setText("127.0.0.1");
        w->findChild<TEdit*>("ed_porta")->setText(FServer.PortText());
        w->findChild<QCheckBox*>("chkSSL")->setChecked(false);
        w->findChild<QCheckBox*>("chkTLS")->setChecked(false);
        return w;
    }

    template <typename T = QWidget>
    T* W(const char* Name) const {
        return testing::Control<T>(*FForm, Name);
    }
    void Click(const char* Name) { testing::ClickControl(*FForm, Name); }
    QWidget* Page() const { return testing::ShownPage(*FForm); }
    bool MenuEnabled() const { return W("pnl_menu_left")->isEnabled(); }
    TEdit* E(const char* Name) const { return W<TEdit>(Name); }
    TMaskEdit* M(const char* Name) const { return W<TMaskEdit>(Name); }
    QAbstractItemModel* Grid() const { return W<QTableView>("GridClientes")->model(); }
    QString Cell(int Row, int Column) const { return Grid()->index(Row, Column).data().toString(); }

    // Types `Text` into a box as the operator would: focus, then keys.
    void Type(QWidget* Box, const QString& Text) {
        Box->setFocus(Qt::MouseFocusReason);
        if (auto* mask = qobject_cast<TMaskEdit*>(Box)) {
            mask->setCursorPosition(0);
            // A "!" box wants the digits right-aligned when the area code is left out.
            if (mask->EditMask().RightAligned())
                mask->setCursorPosition(mask->EditMask().DisplayOf(Text).indexOf(Text.left(1)));
        }
        // Non-ASCII letters have no key of their own: send them as the text of a key.
        for (const QChar c : Text) {
            if (c.unicode() < 0x80)
                QTest::keyClicks(Box, QString(c));
            else
                QTest::sendKeyEvent(QTest::Click, Box, Qt::Key_A, QString(c), Qt::NoModifier);
        }
    }

    void Fill(const Customer& C) {
        Type(E("ed_nome"), C.Nome);
        Type(M("ed_ident"), C.Ident);
        Type(M("ed_cpf"), C.Cpf);
        Type(M("ed_fone"), C.Fone);
        Type(E("ed_email"), C.Email);
        Type(M("ed_cep"), C.Cep);
        Type(E("ed_logradouro"), C.Logradouro);
        Type(E("ed_num"), C.Num);
        Type(E("ed_complemento"), C.Complemento);
        Type(E("ed_bairro"), C.Bairro);
        Type(E("ed_cidade"), C.Cidade);
        Type(E("ed_uf"), C.Uf);
        Type(E("ed_pais"), C.Pais);
    }

    void Include(const Customer& C) {
        Click("btn_incluir");
        Fill(C);
        Click("btn_gravar");
    }

    void Include(const QString& Name) {
        Customer c;
        c.Nome = Name;
        Include(c);
    }

    void Search(const QString& Text) {
        E("ed_pesquisa")->clear();
        Type(E("ed_pesquisa"), Text);
        Click("Image2");
    }

    // The mails the server accepted since the last call.
    QList<tandrel::app::testing::TReceivedMail> Mails() {
        const auto all = FServer.Mails();
        const auto fresh = all.mid(FMailsSeen);
        FMailsSeen = all.size();
        return fresh;
    }

    static int RefusedPort() {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0)) return 0;
        return probe.serverPort();  // nothing listens there once the probe is gone
    }

private slots:
    void initTestCase() { QVERIFY2(FServer.Start(), qPrintable(FServer.Error())); }

    void cleanupTestCase() { FServer.Stop(); }

    void init() {
        FMessages.Clear();
        FFolder = std::make_unique<QTemporaryDir>();
        QVERIFY(FFolder->isValid());
        FForm = NewWindow();
        FForm->show();
        QVERIFY(QTest::qWaitForWindowActive(FForm.get()));
    }

    void cleanup() {
        FForm.reset();
        FFolder.reset();
    }

    void startsOnTheEmptyList() {
        QCOMPARE(FForm->size(), QSize(1007, 662));
        QCOMPARE(FForm->windowTitle(), QStringLiteral("Frm_cadastro"));
        QVERIFY(FForm->windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(Page(), W("tbs_dados"));
        QVERIFY(MenuEnabled());
        QCOMPARE(Grid()->rowCount(), 0);
        QCOMPARE(E("ed_pesquisa")->text(), QString());
        QCOMPARE(FForm->vcontador(), 1);
        QCOMPARE(FForm->vdata_arq_xml(), QStringLiteral("09122026"));
        QCOMPARE(FForm->vopcao(), QString());
    }

    void controlLayout_data() {
        // Each control: where it sits in its container (the window, the menu column or its
        // page), its size (-1: as its text), and its place in its page's tab order
        // (0: none given, -1: no tab stop). A control named by its text is a label.
        QTest::addColumn<QString>("container");
        QTest::addColumn<QRect>("place");
        QTest::addColumn<int>("tab");
        const auto row = [](const char* Name, const char* Container, QRect Place, int Tab = 0) {
            QTest::newRow(Name) << QString::fromLatin1(Container) << Place << Tab;
        };
        const char* form = "Frm_cadastro";
        row("pnl_menu_top", form, {0, 0, 1007, 57});
        row("CADASTRO CLIENTES", form, {24, 10, -1, -1});
        row("pnl_menu_left", form, {0, 59, 161, 578});
        row("pnl_principal", form, {165, 59, 837, 578});
        row("pgcclientes", form, {165, 59, 837, 578});
        row("pnl_bottom", form, {0, 639, 1007, 23});

        const char* menu = "pnl_menu_left";
        row("Panel1", menu, {0, 0, 161, 65});
        row("btn_incluir", menu, {5, 75, 151, 45});
        row("btn_alterar", menu, {5, 140, 151, 45});
        row("btn_excluir", menu, {5, 205, 151, 45});
        row("btn_imprimir", menu, {5, 270, 151, 45});
        row("btn_config", menu, {5, 335, 151, 45});
        row("btn_sair", menu, {5, 513, 151, 45});

        const char* list = "tbs_dados";
        row("pnl_dados", list, {0, 0, 837, 578});
        row("pnl_consulta", list, {0, 0, 837, 53});
        row("pnl_pesquisa", list, {15, 18, 378, 32});
        row("ed_pesquisa", list, {15, 20, 301, 28}, 1);
        row("Image2", list, {331, 21, 24, 26}, -1);
        row("Image1", list, {365, 21, 24, 26}, -1);
        row("GridClientes", list, {0, 53, 837, 525});

        const char* reg = "tbs_cadastro";
        row("pnl_cadastro", reg, {0, 0, 837, 578});
        row("Panel2", reg, {0, 0, 837, 36});
        row("lbl_opcao", reg, {17, 7, 300, 24});
        row("Dados Pessoais", reg, {75, 44, -1, -1});
        row("shp_dados_pessoais", reg, {75, 62, 521, 2});
        row("Nome", reg, {75, 75, -1, -1});
        row("ed_nome", reg, {75, 94, 521, 23}, 1);
        row("Identidade", reg, {75, 128, -1, -1});
        row("ed_ident", reg, {75, 145, 85, 23}, 2);
        row("CPF", reg, {296, 128, -1, -1});
        row("ed_cpf", reg, {297, 145, 98, 23}, 3);
        row("Telefone", reg, {501, 128, -1, -1});
        row("ed_fone", reg, {501, 145, 95, 23}, 4);
        row("Email", reg, {75, 176, -1, -1});
        row("ed_email", reg, {75, 195, 322, 23}, 5);
        row("Endereço", reg, {75, 237, -1, -1});
        row("shp_endereco", reg, {75, 255, 521, 2});
        row("Cep", reg, {75, 272, -1, -1});
        row("ed_cep", reg, {75, 291, 83, 26}, 6);
        row("btn_cons_cep", reg, {161, 291, 28, 26}, -1);
        row("Logradouro", reg, {216, 272, -1, -1});
        row("ed_logradouro", reg, {213, 293, 338, 23}, 7);
        row("Nº", reg, {573, 272, -1, -1});
        row("ed_num", reg, {561, 292, 35, 23}, 8);
        row("Complemento", reg, {75, 328, -1, -1});
        row("ed_complemento", reg, {75, 346, 257, 23}, 9);
        row("Bairro", reg, {347, 326, -1, -1});
        row("ed_bairro", reg, {347, 346, 249, 23}, 10);
        row("Cidade", reg, {75, 380, -1, -1});
        row("ed_cidade", reg, {75, 398, 362, 23}, 11);
        row("Estado", reg, {455, 380, -1, -1});
        row("ed_uf", reg, {457, 398, 35, 23}, 12);
        row("Pais", reg, {75, 435, -1, -1});
        row("ed_pais", reg, {75, 453, 362, 23}, 13);
        row("mm_dados", reg, {616, 62, 201, 360});
        row("pnl_botoes_cad", reg, {0, 529, 837, 49});
        row("btn_cancelar", reg, {710, 534, 107, 39}, -1);
        row("btn_gravar", reg, {588, 534, 107, 39}, -1);

        const char* config = "tbs_config";
        row("pnl_config", config, {0, 0, 837, 578});
        row("Caminho Arquivos XML", config, {57, 51, -1, -1});
        row("ed_dir_xml", config, {56, 72, 441, 23}, 1);
        row("Email de", config, {57, 149, -1, -1});
        row("ed_email_de", config, {57, 168, 248, 23}, 2);
        row("Nome (envio)", config, {353, 149, -1, -1});
        row("ed_nome_envio", config, {353, 168, 248, 23}, 3);
        row("Host", config, {59, 218, -1, -1});
        row("ed_host", config, {56, 236, 248, 23}, 4);
        row("Conta Usuario", config, {59, 273, -1, -1});
        row("ed_conta_email", config, {56, 291, 248, 23}, 5);
        row("Senha Conta", config, {59, 326, -1, -1});
        row("ed_senha_email", config, {56, 343, 248, 23}, 6);
        row("Porta", config, {368, 218, -1, -1});
        row("ed_porta", config, {363, 240, 41, 23}, 7);
        row("Autenticação", config, {468, 218, -1, -1});
        row("chkTLS", config, {468, 244, 45, 20}, 8);
        row("chkSSL", config, {532, 244, 45, 20}, 9);
        row("shp_porta", config, {353, 236, 233, 32});
        row("Panel3", config, {0, 529, 837, 49});
        row("btn_voltar_config", config, {710, 534, 107, 39}, -1);
    }

    void controlLayout() {
        QFETCH(QString, container);
        QFETCH(QRect, place);
        QFETCH(int, tab);
        // The row's name, without what tells two labels of the same text apart.
        const QString name = QString::fromUtf8(QTest::currentDataTag()).section(QStringLiteral(" ("), 0, 0);
        const QWidget* box =
            container == FForm->objectName() ? FForm.get() : FForm->findChild<QWidget*>(container);
        QVERIFY2(box, qPrintable("no container " + container));
        const QWidget* w = box->findChild<QWidget*>(name);
        if (!w)
            for (const QLabel* label : box->findChildren<QLabel*>())
                if (label->text() == name) w = label;
        QVERIFY2(w, qPrintable("no control " + name + " in " + container));

        QCOMPARE(w->mapTo(box, QPoint(0, 0)), place.topLeft());
        if (place.width() >= 0) QCOMPARE(w->size(), place.size());

        if (tab < 0) QVERIFY2(!(w->focusPolicy() & Qt::TabFocus), "a tab stop");
        if (tab <= 0) return;
        // The tab-th stop met when the focus chain is followed from the page.
        QList<const QWidget*> stops;
        for (const QWidget* c : box->findChildren<QWidget*>())
            if ((c->focusPolicy() & Qt::TabFocus) && c->isEnabled() && c->isVisibleTo(box)) stops << c;
        int position = 0;
        for (const QWidget* c = box->nextInFocusChain(); c != box && c != w; c = c->nextInFocusChain())
            position += stops.contains(c) ? 1 : 0;
        QVERIFY2(stops.contains(w), "not a tab stop");
        QCOMPARE(position + 1, tab);
    }

    void gridColumns() {
        const QStringList titles{"CODIGO", "NOME CLIENTE", "Nº IDENTIDADE", "Nº CPF", "Nº TELEFONE", "CEP"};
        const int widths[] = {62, 282, 109, 139, 119, 80};
        auto* header = W<QTableView>("GridClientes")->horizontalHeader();
        QCOMPARE(Grid()->columnCount(), 6);
        for (int c = 0; c < 6; ++c) {
            QCOMPARE(Grid()->headerData(c, Qt::Horizontal).toString(), titles[c]);
            QCOMPARE(header->sectionSize(c), widths[c]);
        }
        Include(Customer());
        QCOMPARE(Cell(0, 0), QStringLiteral("0001"));
        QCOMPARE(Cell(0, 1), QStringLiteral("JOÃO DA SILVA"));
        QCOMPARE(Cell(0, 2), QStringLiteral("123456789"));
        QCOMPARE(Cell(0, 3), QStringLiteral("12345678901"));
        QCOMPARE(Cell(0, 4), QStringLiteral("11912345678"));
        QCOMPARE(Cell(0, 5), QStringLiteral("01001000"));
        QCOMPARE(Grid()->index(0, 0).data(Qt::TextAlignmentRole).value<Qt::Alignment>(), Qt::AlignCenter);
    }

    void parametersDefaults() {
        const TFrm_cadastro fresh(FMessages);  // the fixture points its window elsewhere
        const auto text = [&](const char* Name) { return fresh.findChild<TEdit*>(Name)->text(); };
        QCOMPARE(text("ed_dir_xml"), QDir::homePath() + "/Clientes/xml/");
        QCOMPARE(text("ed_email_de"), QStringLiteral("suporte@localhost"));
        QCOMPARE(text("ed_nome_envio"), QStringLiteral("suporte"));
        QCOMPARE(text("ed_host"), QStringLiteral("localhost"));
        QCOMPARE(text("ed_conta_email"), QStringLiteral("suporte@localhost"));
        QCOMPARE(text("ed_senha_email"), QStringLiteral("senha"));
        QCOMPARE(fresh.findChild<TEdit*>("ed_senha_email")->echoMode(), QLineEdit::Normal);
        QCOMPARE(text("ed_porta"), QStringLiteral("465"));
        QCOMPARE(fresh.findChild<TEdit*>("ed_porta")->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
        QVERIFY(fresh.findChild<QCheckBox*>("chkTLS")->isChecked());
        QVERIFY(fresh.findChild<QCheckBox*>("chkSSL")->isChecked());

        Click("btn_config");
        QCOMPARE(Page(), W("tbs_config"));
        QVERIFY(!MenuEnabled());
        E("ed_host")->setText("smtp.example.com");
        Click("btn_voltar_config");
        QCOMPARE(Page(), W("tbs_dados"));
        QVERIFY(MenuEnabled());
        Click("btn_config");
        QCOMPARE(E("ed_host")->text(), QStringLiteral("smtp.example.com"));
    }

    void menuDoesNotAnswerAwayFromTheList_data() {
        QTest::addColumn<QString>("opener");
        QTest::addColumn<QString>("page");
        QTest::newRow("Incluir") << "btn_incluir"
                                 << "tbs_cadastro";
        QTest::newRow("Alterar") << "btn_alterar"
                                 << "tbs_cadastro";
        QTest::newRow("Parametros") << "btn_config"
                                    << "tbs_config";
    }

    void menuDoesNotAnswerAwayFromTheList() {
        QFETCH(QString, opener);
        QFETCH(QString, page);
        Click(opener.toLatin1().constData());
        QCOMPARE(Page()->objectName(), page);
        for (const char* b :
             {"btn_incluir", "btn_alterar", "btn_excluir", "btn_imprimir", "btn_config", "btn_sair"})
            Click(b);
        QCOMPARE(Page()->objectName(), page);
        QVERIFY(FForm->isVisible());
        QVERIFY(FMessages.Entries().empty());
    }

    void imprimirDoesNothing() {
        Include(Customer());
        Click("btn_imprimir");
        QCOMPARE(Page(), W("tbs_dados"));
        QVERIFY(MenuEnabled());
        QCOMPARE(Grid()->rowCount(), 1);
        QVERIFY(FMessages.Entries().empty());
    }

    void sairClosesTheWindow() {
        Include(Customer());
        Click("btn_sair");
        QVERIFY(!FForm->isVisible());
        QVERIFY(!FForm->MTClientes().Active());
    }

    void tabVisitsTheBoxesInOrder() {
        Click("btn_incluir");
        QCOMPARE(W("lbl_opcao")->property("text").toString(), QStringLiteral("INCLUSÃO"));
        QVERIFY(E("ed_nome")->hasFocus());
        E("ed_email")->setText("a@b");  // so that leaving it raises nothing
        const QStringList expected{"ed_ident",  "ed_cpf",        "ed_fone", "ed_email",
                                   "ed_cep",    "ed_logradouro", "ed_num",  "ed_complemento",
                                   "ed_bairro", "ed_cidade",     "ed_uf",   "ed_pais"};
        QStringList visited;
        for (int i = 0; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(visited, expected);
        QVERIFY(FMessages.Entries().empty());
    }

    void lettersTakeTheBoxCase() {
        Click("btn_incluir");
        Type(E("ed_nome"), "joão josé");
        Type(E("ed_email"), "Joao@Example.COM");
        E("ed_uf")->setText("sp");  // set by the program, as the lookup does
        QCOMPARE(E("ed_nome")->text(), QStringLiteral("JOÃO JOSÉ"));
        QCOMPARE(E("ed_email")->text(), QStringLiteral("joao@example.com"));
        QCOMPARE(E("ed_uf")->text(), QStringLiteral("SP"));
    }

    void idRule_data() {
        // Steps: I<name> include, D delete the current, S<text> search, X empty the XML
        // folder. The rule restarts at 1 on an empty view, then skips the numbers whose
        // file is in the folder.
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<int>("id");
        QTest::newRow("first is 1") << QStringList{"IANA"} << 1;
        QTest::newRow("then 2, 3") << QStringList{"IANA", "IBIA", "ICAIO"} << 3;
        QTest::newRow("restart after deleting all")
            << QStringList{"IANA", "IBIA", "D", "D", "X", "IDORA"} << 1;
        QTest::newRow("restart skips files kept") << QStringList{"IANA", "IBIA", "D", "D", "IDORA"} << 3;
        QTest::newRow("no reuse while others show")
            << QStringList{"IANA", "IBIA", "ICAIO", "D", "IDORA"} << 4;
        QTest::newRow("search matching nothing gives 1")
            << QStringList{"IANA", "IBIA", "SZ", "X", "IZECA"} << 1;
        QTest::newRow("search matching nothing skips files kept")
            << QStringList{"IANA", "IBIA", "SZ", "IZECA"} << 3;
        QTest::newRow("search matching some goes on") << QStringList{"IANA", "IBIA", "SA", "IALICE"} << 3;
    }

    void idRule() {
        QFETCH(QStringList, steps);
        for (const QString& step : steps) {
            if (step.startsWith('I'))
                Include(step.mid(1));
            else if (step == "D")
                Click("btn_excluir");
            else if (step.startsWith('S'))
                Search(step.mid(1));
            else if (step == "X")
                for (const QString& f : QDir(Folder()).entryList(QDir::Files))
                    QVERIFY(QFile::remove(Folder() + f));
        }
        QTEST(FForm->vcontador(), "id");
        QTEST(FForm->MTClientes().FieldByName("id_cliente").AsInteger(), "id");
        QCOMPARE(FForm->vnome_arq(),
                 QStringLiteral("Cliente_%1_09122026.xml").arg(FForm->vcontador(), 3, 10, QChar('0')));
    }

    void fileNameKeepsFourDigits() {
        // Customers 1 to 999 of this day are in the folder already: the first free number
        // is 1000.
        for (int id = 1; id <= 999; ++id) {
            QFile earlier(FileOf(id));
            QVERIFY(earlier.open(QIODevice::WriteOnly));
        }
        Mails();
        Include(Customer());
        QCOMPARE(FForm->vcontador(), 1000);
        QCOMPARE(FForm->vnome_arq(), QStringLiteral("Cliente_1000_09122026.xml"));
        QVERIFY(QFileInfo(FileOf(1000)).size() > 0);
        QCOMPARE(Cell(0, 0), QStringLiteral("1000"));
        const auto mails = Mails();
        QCOMPARE(mails.size(), 1);
        QCOMPARE(mails[0].Parts()[1].FileName, QStringLiteral("Cliente_1000_09122026.xml"));
        QVERIFY(FMessages.Entries().empty());
    }

    void summaryLinesOfTheLastInclusionOnly() {
        Customer a, b, c;
        a.Nome = "ANA";
        b.Nome = "BIA";
        c.Nome = "CAIO";
        c.Fone = "912345678";
        c.Uf = "SPX";
        Include(a);
        Include(b);
        Include(c);
        const QStringList expected{
            "Nome : CAIO",
            "Ident : 123456789",
            "CPF : 12345678901",
            "Telefone : 912345678",
            "Email : joao@example.com",
            "CEP : 01001000",
            "Logradouro : PRAÇA DA SÉ, Num : 100",
            "Complemento : LADO ÍMPAR",
            "Bairro : SÉ",
            "Cidade : SÃO PAULO - SPX",
            "Pais : BRASIL",
        };
        QCOMPARE(FForm->campos_cad(), expected);
        QCOMPARE(FForm->mm_dados_lines(), expected);
        QCOMPARE(FForm->vnome_arq(), QStringLiteral("Cliente_003_09122026.xml"));
        QCOMPARE(QString::fromStdString(FForm->MTClientes().FieldByName("uf").AsString()),
                 QStringLiteral("SP"));
        QCOMPARE(Page(), W("tbs_dados"));
        QVERIFY(MenuEnabled());
        QCOMPARE(Grid()->rowCount(), 3);
        QCOMPARE(FForm->MTClientes().RecNo(), 2);  // the one just included
    }

    void inclusionWritesTheXmlFile() {
        Customer c;
        c.Nome = QString(60, QLatin1Char('N'));
        Include(c);
        QFile file(FileOf(1));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray xml = file.readAll();
        QVERIFY(xml.contains(QString(60, QLatin1Char('N')).toUtf8()));
        QVERIFY(xml.contains(QStringLiteral("SÃO PAULO").toUtf8()));
        QVERIFY(FMessages.Entries().empty());
    }

    void earlierFilesAreNeverReplaced() {
        // Another run of the program on the same day wrote the first two files.
        {
            auto earlier = NewWindow();
            earlier->show();
            for (const char* name : {"ANA", "BIA"}) {
                earlier->btn_incluirClick();
                earlier->findChild<TEdit*>("ed_nome")->setText(name);
                earlier->findChild<TMaskEdit*>("ed_cep")->SetText("01001000");
                earlier->btn_gravarClick();
            }
        }
        QFile first(FileOf(1));
        QVERIFY(first.open(QIODevice::ReadOnly));
        const QByteArray before = first.readAll();
        first.close();

        Include(QStringLiteral("CAIO"));
        QCOMPARE(FForm->vcontador(), 3);
        QCOMPARE(FForm->vnome_arq(), QStringLiteral("Cliente_003_09122026.xml"));
        QCOMPARE(Cell(0, 0), QStringLiteral("0003"));
        QVERIFY(QFile::exists(FileOf(3)));
        QVERIFY(first.open(QIODevice::ReadOnly));
        QCOMPARE(first.readAll(), before);
        QVERIFY(FMessages.Entries().empty());
    }

    void failedWriteKeepsTheRecordAndThePage() {
        E("ed_dir_xml")->setText(Folder() + "missing/");
        Include(QStringLiteral("ANA"));
        QCOMPARE(FMessages.Entries().size(), std::size_t(1));
        QVERIFY(FMessages.Entries()[0].Error);
        QVERIFY(QString::fromStdString(FMessages.Entries()[0].Text).contains("missing"));
        QCOMPARE(Page(), W("tbs_cadastro"));
        QVERIFY(!MenuEnabled());
        QCOMPARE(FForm->MTClientes().RecordCount(), 1);
        QCOMPARE(FForm->vcontador(), 1);
        QCOMPARE(E("ed_nome")->text(), QStringLiteral("ANA"));
    }

    void longNameIsCutInTheTableOnly() {
        Customer c;
        c.Nome = QString(60, QLatin1Char('N'));
        Include(c);
        QCOMPARE(Cell(0, 1), QString(50, QLatin1Char('N')));
        QCOMPARE(FForm->campos_cad().first(), "Nome : " + QString(60, QLatin1Char('N')));
    }

    void requiredFields_data() {
        QTest::addColumn<QString>("nome");
        QTest::addColumn<QString>("cep");
        QTest::addColumn<QString>("focus");
        QTest::newRow("empty name") << ""
                                    << "01001000"
                                    << "ed_nome";
        QTest::newRow("empty cep") << "ANA"
                                   << ""
                                   << "ed_cep";
        QTest::newRow("both empty: name first") << ""
                                                << ""
                                                << "ed_nome";
    }

    void requiredFields() {
        QFETCH(QString, nome);
        QFETCH(QString, cep);
        Customer c;
        c.Nome = nome;
        c.Cep = cep;
        Include(c);
        QCOMPARE(FMessages.Entries(),
                 (std::vector<TRecordedMessages::Entry>{{false, "Preenchimento Obrigatorio"}}));
        QTEST(QApplication::focusWidget()->objectName(), "focus");
        QCOMPARE(Page(), W("tbs_cadastro"));
        QVERIFY(!MenuEnabled());
        QCOMPARE(FForm->MTClientes().RecordCount(), 0);
        QCOMPARE(FForm->vcontador(), 1);
        QVERIFY(FForm->campos_cad().isEmpty());
    }

    void blankNamePasses() {
        Include(QStringLiteral("   "));
        QVERIFY(FMessages.Entries().empty());
        QCOMPARE(FForm->MTClientes().RecordCount(), 1);
    }

    void cancelarKeepsNothing() {
        Click("btn_incluir");
        Fill(Customer());
        Click("btn_cancelar");
        QCOMPARE(Page(), W("tbs_dados"));
        QVERIFY(MenuEnabled());
        QCOMPARE(FForm->MTClientes().RecordCount(), 0);
        QCOMPARE(FForm->vopcao(), QStringLiteral("I"));
        QCOMPARE(E("ed_nome")->text(), Customer().Nome);  // the boxes keep their texts
        Click("btn_incluir");
        QCOMPARE(E("ed_nome")->text(), QString());
        QCOMPARE(M("ed_cpf")->EditText(), QStringLiteral("___.___.___-__"));
        QVERIFY(FMessages.Entries().empty());
    }

    void excluirOnAnEmptyList() {
        Click("btn_excluir");
        QCOMPARE(FMessages.Entries(),
                 (std::vector<TRecordedMessages::Entry>{
                     {false, "EXCLUIR CLIENTE"},
                     {true, "MTClientes: Cannot perform this operation on an empty dataset."}}));
        QCOMPARE(Page(), W("tbs_dados"));
        QVERIFY(MenuEnabled());
    }

    void excluirDeletesTheSelectedRow() {
        for (const char* name : {"ANA", "BIA", "CAIO"}) Include(QString::fromLatin1(name));
        auto* grid = W<QTableView>("GridClientes");
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                          grid->visualRect(Grid()->index(1, 1)).center());
        Click("btn_excluir");
        QCOMPARE(Grid()->rowCount(), 2);
        QCOMPARE(Cell(0, 1), QStringLiteral("ANA"));
        QCOMPARE(Cell(1, 1), QStringLiteral("CAIO"));
        QCOMPARE(FMessages.Entries(), (std::vector<TRecordedMessages::Entry>{{false, "EXCLUIR CLIENTE"}}));
    }

    void alterarLoadsAndStoresTheSelectedRow() {
        Customer a;
        a.Nome = "ANA";
        a.Fone = "912345678";
        Include(a);
        Include(QStringLiteral("BIA"));
        auto* grid = W<QTableView>("GridClientes");
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                          grid->visualRect(Grid()->index(0, 1)).center());
        Click("btn_alterar");
        QCOMPARE(W("lbl_opcao")->property("text").toString(), QStringLiteral("ALTERACÃO"));
        QCOMPARE(FForm->vopcao(), QStringLiteral("A"));
        QVERIFY(E("ed_nome")->hasFocus());
        QCOMPARE(E("ed_nome")->text(), QStringLiteral("ANA"));
        QCOMPARE(M("ed_cpf")->EditText(), QStringLiteral("123.456.789-01"));
        QCOMPARE(M("ed_fone")->EditText(), QStringLiteral("(__)91234-5678"));
        QCOMPARE(M("ed_cep")->EditText(), QStringLiteral("01001-000"));
        QCOMPARE(E("ed_pais")->text(), QStringLiteral("BRASIL"));

        const QStringList before = FForm->campos_cad();
        E("ed_nome")->clear();  // no required-field check on alteration
        E("ed_cidade")->setText("campinas");
        Click("btn_gravar");
        QVERIFY(FMessages.Entries().empty());
        QCOMPARE(Grid()->rowCount(), 2);
        QCOMPARE(Cell(0, 0), QStringLiteral("0001"));
        QCOMPARE(Cell(0, 1), QString());
        QCOMPARE(FForm->MTClientes().FieldByName("cidade").AsString(), std::string("CAMPINAS"));
        QCOMPARE(FForm->campos_cad(), before);
        QCOMPARE(FForm->vcontador(), 2);
    }

    void alterarOnAnEmptyViewAddsARecordWithoutId() {
        Click("btn_alterar");
        QCOMPARE(E("ed_nome")->text(), QString());
        Type(E("ed_nome"), "SEM CODIGO");
        Click("btn_gravar");
        QCOMPARE(Grid()->rowCount(), 1);
        QCOMPARE(Cell(0, 0), QString());
        QCOMPARE(Cell(0, 1), QStringLiteral("SEM CODIGO"));
    }

    void nameSearch_data() {
        QTest::addColumn<QString>("search");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("JO") << "JO" << QStringList{"JOÃO", "JOSÉ"};
        QTest::newRow("lower case typed") << "jo" << QStringList{"JOÃO", "JOSÉ"};
        QTest::newRow("apostrophe") << "D'AV" << QStringList{"D'AVILA"};
        QTest::newRow("empty shows all") << "" << QStringList{"JOÃO", "MARIA JOANA", "JOSÉ", "D'AVILA"};
        QTest::newRow("nothing") << "X" << QStringList{};
    }

    void nameSearch() {
        QFETCH(QString, search);
        QFETCH(QStringList, shown);
        for (const char* name : {"JOÃO", "MARIA JOANA", "JOSÉ", "D'AVILA"}) Include(QString::fromUtf8(name));
        Search(search);
        QStringList names;
        for (int row = 0; row < Grid()->rowCount(); ++row) names << Cell(row, 1);
        QCOMPARE(names, shown);
        QVERIFY(FMessages.Entries().empty());

        Click("Image1");
        QCOMPARE(E("ed_pesquisa")->text(), QString());
        QCOMPARE(Grid()->rowCount(), 4);
    }

    void inclusionHiddenBySearchIsKept() {
        Include(QStringLiteral("JOÃO"));
        Search("JO");
        Include(QStringLiteral("ANA"));
        QCOMPARE(Grid()->rowCount(), 1);
        QCOMPARE(FForm->vcontador(), 2);
        Click("Image1");
        QCOMPARE(Grid()->rowCount(), 2);
    }

    void emptyEmailOnLeaving() {
        Click("btn_incluir");
        Type(E("ed_email"), "");
        QTest::keyClick(E("ed_email"), Qt::Key_Tab);
        QCOMPARE(FMessages.Entries(),
                 (std::vector<TRecordedMessages::Entry>{{false, "Digite um email valido !!"}}));
        QVERIFY(E("ed_email")->hasFocus());
        Type(E("ed_email"), "x");
        QTest::keyClick(E("ed_email"), Qt::Key_Tab);
        QVERIFY(M("ed_cep")->hasFocus());
        QCOMPARE(FMessages.Entries().size(), std::size_t(1));
    }

    void salvarDoesNotCheckTheEmail() {
        Customer c;
        c.Email.clear();
        Click("btn_incluir");
        Type(E("ed_nome"), c.Nome);
        Type(M("ed_cep"), c.Cep);
        Click("btn_gravar");
        QVERIFY(FMessages.Entries().empty());
        QCOMPARE(FForm->MTClientes().RecordCount(), 1);
    }

    void salvarChecksHalfTypedMasks_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("digits");
        for (const char* mode : {"I", "A"}) {
            const auto row = [&](const char* Box, const char* Digits) {
                QTest::addRow("%s %s", mode == QLatin1String("I") ? "inclusion" : "alteration", Box)
                    << mode << Box << Digits;
            };
            row("ed_ident", "12345");
            row("ed_cpf", "12345");
            row("ed_fone", "1234");
            row("ed_cep", "010");
        }
    }

    void salvarChecksHalfTypedMasks() {
        QFETCH(QString, mode);
        QFETCH(QString, box);
        QFETCH(QString, digits);
        const std::map<QString, QString Customer::*> fields{{"ed_ident", &Customer::Ident},
                                                            {"ed_cpf", &Customer::Cpf},
                                                            {"ed_fone", &Customer::Fone},
                                                            {"ed_cep", &Customer::Cep}};
        Customer stored;
        stored.Nome = "ANA";
        if (mode == "A") Include(stored);
        const int records = FForm->MTClientes().RecordCount();
        const QStringList files = QDir(Folder()).entryList(QDir::Files);
        Mails();

        TMaskEdit* edit = M(box.toLatin1().constData());
        if (mode == "A") {
            Click("btn_alterar");
            edit->Clear();
        } else {
            Customer others;
            others.*fields.at(box) = QString();
            Click("btn_incluir");
            Fill(others);
        }
        // Typed last and left by the click on Salvar, which takes no focus.
        Type(edit, digits);
        Click("btn_gravar");

        QCOMPARE(FMessages.Entries(),
                 (std::vector<TRecordedMessages::Entry>{
                     {true, "Invalid input value.  Use escape key to abandon changes."}}));
        QCOMPARE(QApplication::focusWidget()->objectName(), box);
        QCOMPARE(Page(), W("tbs_cadastro"));
        QVERIFY(!MenuEnabled());
        QCOMPARE(FForm->MTClientes().RecordCount(), records);
        QCOMPARE(QString::fromStdString(FForm->MTClientes().FieldByName("Nome").AsString()),
                 records ? stored.Nome : QString());
        QCOMPARE(QDir(Folder()).entryList(QDir::Files), files);
        QVERIFY(Mails().isEmpty());
    }

    void salvarStopsAtTheFirstHalfTypedMaskInTabOrder() {
        Customer c;
        c.Cpf.clear();
        c.Cep.clear();
        Click("btn_incluir");
        Fill(c);
        Type(M("ed_cpf"), "123");
        // The program moves the focus on, which is no leaving: both boxes stay half-typed.
        M("ed_cep")->setFocus(Qt::OtherFocusReason);
        QTest::keyClicks(M("ed_cep"), "010");
        QVERIFY(FMessages.Entries().empty());
        Click("btn_gravar");
        QCOMPARE(FMessages.Entries().size(), std::size_t(1));
        QVERIFY(M("ed_cpf")->hasFocus());
        QCOMPARE(FForm->MTClientes().RecordCount(), 0);
    }

    void fullMasksFitTheirBoxes_data() {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("digits");
        QTest::newRow("ed_ident") << "ed_ident"
                                  << "123456789";
        QTest::newRow("ed_cpf") << "ed_cpf"
                                << "12345678901";
        QTest::newRow("ed_fone") << "ed_fone"
                                 << "11912345678";
        QTest::newRow("ed_cep") << "ed_cep"
                                << "01001000";
    }

    void fullMasksFitTheirBoxes() {
        QFETCH(QString, box);
        QFETCH(QString, digits);
        Click("btn_incluir");
        TMaskEdit* edit = M(box.toLatin1().constData());
        Type(edit, digits);
        // The box scrolls its text while painting; a text that fits never scrolls, so the
        // cursor moves by the whole text's width from one end to the other.
        const auto cursorX = [edit](Qt::Key Key) {
            QTest::keyClick(edit, Key);
            edit->grab();
            return edit->inputMethodQuery(Qt::ImCursorRectangle).toRect().x();
        };
        const int end = cursorX(Qt::Key_End);
        const int home = cursorX(Qt::Key_Home);
        QCOMPARE(end - home, QFontMetrics(edit->font()).horizontalAdvance(edit->displayText()));
    }

    void gridTitlesStayNormalWithARowSelected() {
        auto* header = W<QTableView>("GridClientes")->horizontalHeader();
        const QImage before = header->grab().toImage();
        Include(QStringLiteral("ANA"));
        Include(QStringLiteral("BIA"));
        auto* grid = W<QTableView>("GridClientes");
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                          grid->visualRect(Grid()->index(0, 1)).center());
        QVERIFY(grid->selectionModel()->isRowSelected(0, {}));
        QCOMPARE(header->grab().toImage(), before);
    }

    void bottomBarTellsTheSendSteps_data() {
        const QString preparing = "Preparando o e-mail...";
        const QString connecting = "Conectando ao servidor de e-mail...";
        const QString failed = "Falha ao enviar o e-mail: ";
        QTest::addColumn<QString>("server");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<bool>("sent");
        // After a failure the bar keeps its last line, which says why: a mistyped address
        // is not a server that is down.
        QTest::newRow("accepted") << ""
                                  << QStringList{preparing,
                                                 connecting,
                                                 "Enviando remetente...",
                                                 "Enviando destinatário...",
                                                 "Enviando dados...",
                                                 "Encerrando a conexão...",
                                                 "E-mail enviado.",
                                                 ""}
                                  << true;
        QTest::newRow("silent: three tries of the login")
            << "silent"
            << QStringList{preparing, connecting, connecting + " Tentativa 2 de 3...",
                           connecting + " Tentativa 3 de 3...", failed + "tempo esgotado ao conectar"}
            << false;
        // The server closes cleanly: its close is no broken connection.
        QTest::newRow("connection closed at the recipient")
            << "drop at RCPT"
            << QStringList{preparing, connecting, "Enviando remetente...", "Enviando destinatário...",
                           failed + "o servidor encerrou a conexão ao enviar o destinatário"}
            << false;
        QTest::newRow("recipient refused")
            << "refuse RCPT"
            << QStringList{preparing, connecting, "Enviando remetente...", "Enviando destinatário...",
                           failed +
                               "o servidor recusou o destinatário (550 5.1.1 <ana@example.com>:"
                               " Recipient address rejected: User unknown)"}
            << false;
        QTest::newRow("nobody listens")
            << "none"
            << QStringList{preparing, connecting, connecting + " Tentativa 2 de 3...",
                           connecting + " Tentativa 3 de 3...", failed + "o servidor recusou a conexão"}
            << false;
    }

    void bottomBarTellsTheSendSteps() {
        QFETCH(QString, server);
        QFETCH(QStringList, texts);
        QFETCH(bool, sent);
        tandrel::testing::ScriptedSmtpServer scripted;
        if (server == "silent")
            scripted.SetGreeting(tandrel::testing::ScriptedSmtpServer::kSilent);
        else if (server == "drop at RCPT")
            scripted.Queue("RCPT", tandrel::testing::ScriptedSmtpServer::kClose);
        else if (server == "refuse RCPT")
            for (int i = 0; i < 3; ++i)
                scripted.Queue("RCPT",
                               "550 5.1.1 <ana@example.com>: Recipient address rejected: User unknown");
        E("ed_porta")
            ->setText(server == "none" ? QString::number(RefusedPort())
                                       : QString::fromStdString(scripted.Port()));
        FForm->MailSender1().SetTimeOut(300);  // each unanswered try gives up after 0.3 s

        auto* bar = W<QStatusBar>("stb_envio");
        QCOMPARE(bar->currentMessage(), QString());
        QStringList shown;
        connect(bar, &QStatusBar::messageChanged, bar, [&](const QString& Text) {
            if (shown.isEmpty() || shown.last() != Text) shown << Text;
        });
        Include(Customer());

        QCOMPARE(shown.join(" | "), texts.join(" | "));
        QCOMPARE(bar->currentMessage(), texts.last());
        QCOMPARE(scripted.Data().empty(), !sent);
        QCOMPARE(FMessages.Entries().empty(), sent);
        QCOMPARE(FForm->MTClientes().RecordCount(), 1);
    }

    void incompleteMaskStopsTheTab() {
        Click("btn_incluir");
        E("ed_email")->setText("a@b");
        Type(M("ed_cpf"), "12345");
        QTest::keyClick(M("ed_cpf"), Qt::Key_Tab);
        QVERIFY(M("ed_cpf")->hasFocus());
        QCOMPARE(FMessages.Entries(),
                 (std::vector<TRecordedMessages::Entry>{
                     {true, "Invalid input value.  Use escape key to abandon changes."}}));
        QTest::keyClick(M("ed_cpf"), Qt::Key_Escape);
        QTest::keyClick(M("ed_cpf"), Qt::Key_Tab);
        QVERIFY(M("ed_fone")->hasFocus());
    }

    void eachInclusionMailsItsCustomer() {
        Mails();
        Customer a, b;
        a.Email = "ana@example.com";
        b.Email = "bia@example.com";
        Include(a);
        Include(b);
        const auto mails = Mails();
        QCOMPARE(mails.size(), 2);
        const QString expected[][2] = {{"ana@example.com", "Cliente_001_09122026.xml"},
                                       {"bia@example.com", "Cliente_002_09122026.xml"}};
        for (qsizetype i = 0; i < mails.size(); ++i) {
            QCOMPARE(mails[i].All("rcpt"), QStringList{expected[i][0]});
            QCOMPARE(mails[i].Get("auth"), QStringLiteral("suporte@localhost"));
            const auto parts = mails[i].Parts();
            QCOMPARE(parts.size(), 2);
            QCOMPARE(parts[0].Payload.count("\r\n"), 11);  // the eleven summary lines
            QCOMPARE(parts[1].FileName, expected[i][1]);
        }
        QVERIFY(FMessages.Entries().empty());
        Click("btn_alterar");
        Click("btn_gravar");
        QVERIFY(Mails().isEmpty());  // an alteration sends nothing
    }

    void failedSendKeepsTheCustomerAndReturnsToTheList() {
        E("ed_porta")->setText(QString::number(RefusedPort()));
        Include(Customer());
        QCOMPARE(FMessages.Entries(),
                 (std::vector<TRecordedMessages::Entry>{
                     {false,
                      "Dados foram Gravados mas ocorreu \r*** Erro ao Enviar o email ***\r"
                      "******    Verifique !!  ******"}}));
        QCOMPARE(Page(), W("tbs_dados"));
        QVERIFY(MenuEnabled());
        QCOMPARE(Grid()->rowCount(), 1);
        QVERIFY(QFile::exists(FileOf(1)));

        // The next inclusion starts afresh and goes through.
        FMessages.Clear();
        Mails();
        E("ed_porta")->setText(FServer.PortText());
        Include(QStringLiteral("BIA"));
        QVERIFY(FMessages.Entries().empty());
        const auto mails = Mails();
        QCOMPARE(mails.size(), 1);
        QCOMPARE(mails[0].Parts().size(), 2);  // its own text and file only
        QCOMPARE(mails[0].Parts()[1].FileName, QStringLiteral("Cliente_002_09122026.xml"));
    }
};

QTEST_MAIN(TstFrmCadastro)
#include "tst_frm_cadastro.moc"

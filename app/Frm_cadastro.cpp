#include "app/Frm_cadastro.h"

#include "app/CepLookup.h"
#include "app/ClientesModel.h"
#include "app/CustomerXml.h"
#include "app/DragBar.h"
#include "app/Edit.h"
#include "app/FalhaEnvio.h"
#include "app/Glyphs.h"
#include "app/MailDispatch.h"
#include "app/MaskEdit.h"
#include "app/Messages.h"
#include "app/TitleLabel.h"
#include "mail/LoopbackHost.h"
#include "mail/MailSender.h"
#include "net/BlockSocket.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTableView>
#include <QToolButton>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace tandrel::app {

namespace {

constexpr int kWidth = 1007;
constexpr int kHeight = 662;
constexpr int kTopBar = 57;
constexpr int kBottomBar = 23;
constexpr int kMenuWidth = 161;
constexpr int kEditHeight = 23;

template <typename T>
T* Make(QWidget* parent, const char* name, QRect geometry)
{
    auto* w = new T(parent);  // owned by `parent`
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(geometry);
    return w;
}

QLabel* Label(QWidget* parent, const char* text, QPoint at, const char* name = "")
{
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    if (*name)
        label->setObjectName(QString::fromLatin1(name));
    label->move(at);
    label->adjustSize();
    return label;
}

void Line(QWidget* parent, const char* name, QPoint at)
{
    auto* line = Make<QFrame>(parent, name, QRect(at, QSize(521, 2)));
    line->setProperty("line", true);
}

TEdit* Edit(QWidget* parent, const char* name, QPoint at, int width,
            TEditCharCase charCase = TEditCharCase::ecNormal)
{
    auto* box = Make<TEdit>(parent, name, QRect(at, QSize(width, kEditHeight)));
    box->SetCharCase(charCase);
    return box;
}

QPushButton* Button(QWidget* parent, const char* name, const char* caption, TGlyph glyph,
                    QRect geometry)
{
    auto* button = Make<QPushButton>(parent, name, geometry);
    button->setText(QString::fromUtf8(caption));
    button->setIcon(DrawGlyph(glyph));
    button->setIconSize(QSize(20, 20));
    return button;
}

}  // namespace

std::vector<TFieldDef> ClienteFieldDefs()
{
    using enum TFieldType;
    return {{"Nome", ftString, 50},       {"Identidade", ftString, 10},
            {"cpf", ftString, 12},        {"telefone", ftString, 12},
            {"email", ftString, 50},      {"cep", ftString, 8},
            {"logradouro", ftString, 50}, {"complemento", ftString, 30},
            {"bairro", ftString, 50},     {"cidade", ftString, 50},
            {"uf", ftString, 2},          {"pais", ftString, 30},
            {"id_cliente", ftInteger, 0}, {"numero", ftString, 4}};
}

TFrm_cadastro::TFrm_cadastro(TMessages& messages, TClock today, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint),
      FMessages(messages),
      FMTClientes("MTClientes", ClienteFieldDefs()),
      FMailSender1(std::make_unique<mail::TMailSender>())
{
    FMailSender1->SetAttempts(3);
    FMailSender1->SetOnMailException(
        [this](const mail::TMailSender& AMail, const std::exception& E, bool& ThrowIt) {
            MailSender1MailException(AMail, E, ThrowIt);
        });
    FMailSender1->SetOnMailProcess(
        [this](const mail::TMailSender& AMail, mail::TMailStatus aStatus) {
            MailSender1MailProcess(AMail, aStatus);
        });
    FMailSender1->SetOnCertificateQuestion(
        [this](const mail::TMailSender& AMail, const mail::TCertificateQuestion& Question, bool& Trust) {
            MailSender1CertificateQuestion(AMail, Question, Trust);
        });
    setObjectName(QStringLiteral("Frm_cadastro"));
    setWindowTitle(QStringLiteral("Frm_cadastro"));
    setFixedSize(kWidth, kHeight);
    BuildFrame();
    ApplyStyle();
    // Labels take the size of their text in the font the style sheet gives them.
    for (QLabel* label : findChildren<QLabel*>()) {
        if (label == lbl_opcao)
            continue;
        label->ensurePolished();
        label->adjustSize();
    }
    if (const QScreen* s = screen())
        move(s->availableGeometry().center() - rect().center());
    FormCreate(std::move(today));
}

TFrm_cadastro::~TFrm_cadastro()
{
    FMTClientes.SetOnDataChange(nullptr);
}

// --- construction ------------------------------------------------------------

void TFrm_cadastro::BuildFrame()
{
    auto* top = Make<TDragBar>(this, "pnl_menu_top", QRect(0, 0, kWidth, kTopBar));
    auto* title = new TTitleLabel(QStringLiteral("CADASTRO CLIENTES"), top);  // owned by the bar
    title->setObjectName(QStringLiteral("lbl_titulo"));
    title->move(24, 10);

    const int inner = kHeight - kTopBar - kBottomBar - 4;
    pnl_menu_left = Make<QFrame>(this, "pnl_menu_left", QRect(0, kTopBar + 2, kMenuWidth, inner));
    BuildMenu(pnl_menu_left);

    const int left = kMenuWidth + 1 + 3;
    auto* principal = Make<QFrame>(this, "pnl_principal",
                                   QRect(left, kTopBar + 2, kWidth - left - 5, inner));
    pgcclientes = Make<QStackedWidget>(principal, "pgcclientes", principal->rect());
    tbs_dados = BuildListPage();
    tbs_cadastro = BuildRegistrationPage();
    tbs_config = BuildConfigPage();
    for (QWidget* page : {tbs_dados, tbs_cadastro, tbs_config})
        pgcclientes->addWidget(page);

    auto* bottom = Make<TDragBar>(this, "pnl_bottom",
                                  QRect(0, kHeight - kBottomBar, kWidth, kBottomBar));
    stb_envio = Make<QStatusBar>(bottom, "stb_envio", QRect(QPoint(0, 0), bottom->size()));
    stb_envio->setSizeGripEnabled(false);
    // A press on the text drags the window as a press on the bar does.
    stb_envio->setAttribute(Qt::WA_TransparentForMouseEvents);
    FMailSender1->SMTP().Sock().SetOnStatus(
        [this](net::TBlockSocket&, net::THookSocketReason Reason, const std::string&) {
            // Each try of the login opens a new connection on a new handle. The socket
            // reports on the sending thread; the bar lives on the window's.
            if (Reason == net::THookSocketReason::HR_SocketCreate)
                QMetaObject::invokeMethod(
                    stb_envio, [this] { stb_envio->showMessage(FProgresso.Conexao()); },
                    Qt::QueuedConnection);
        });
}

void TFrm_cadastro::BuildMenu(QWidget* column)
{
    Make<QFrame>(column, "Panel1", QRect(0, 0, kMenuWidth, 65));
    struct Entry {
        const char* Name;
        const char* Caption;
        TGlyph Glyph;
        void (TFrm_cadastro::*Handler)();
    };
    const Entry entries[] = {
        {"btn_incluir", "Incluir", TGlyph::Add, &TFrm_cadastro::btn_incluirClick},
        {"btn_alterar", "Alterar", TGlyph::Edit, &TFrm_cadastro::btn_alterarClick},
        {"btn_excluir", "Excluir", TGlyph::Remove, &TFrm_cadastro::btn_excluirClick},
        {"btn_imprimir", "Imprimir", TGlyph::Print, &TFrm_cadastro::btn_imprimirClick},
        {"btn_config", "Parametros", TGlyph::Settings, &TFrm_cadastro::btn_configClick},
    };
    int y = 65 + 10;
    for (const Entry& e : entries) {
        auto* button = Button(column, e.Name, e.Caption, e.Glyph, QRect(5, y, 151, 45));
        button->setProperty("menu", true);
        Connect(button, e.Handler);
        y += 45 + 20;
    }
    auto* sair = Button(column, "btn_sair", "Sair", TGlyph::Exit,
                        QRect(5, column->height() - 20 - 45, 151, 45));
    sair->setProperty("menu", true);
    Connect(sair, &TFrm_cadastro::btn_sairClick);
}

QWidget* TFrm_cadastro::BuildListPage()
{
    auto* page = Make<QWidget>(nullptr, "tbs_dados", pgcclientes->rect());
    auto* background = Make<QFrame>(page, "pnl_dados", page->rect());
    auto* consulta = Make<QFrame>(background, "pnl_consulta", QRect(0, 0, page->width(), 53));
    auto* pesquisa = Make<QFrame>(consulta, "pnl_pesquisa", QRect(15, 18, 378, 32));
    ed_pesquisa = Edit(pesquisa, "ed_pesquisa", QPoint(0, 2), 301, TEditCharCase::ecUpperCase);
    ed_pesquisa->setFixedHeight(28);
    struct Picture {
        const char* Name;
        TGlyph Glyph;
        int X;
        void (TFrm_cadastro::*Handler)();
    };
    for (const Picture& p : {Picture{"Image2", TGlyph::Search, 316, &TFrm_cadastro::Image2Click},
                             Picture{"Image1", TGlyph::Clear, 350, &TFrm_cadastro::Image1Click}}) {
        auto* image = Make<QToolButton>(pesquisa, p.Name, QRect(p.X, 3, 24, 26));
        image->setIcon(DrawGlyph(p.Glyph, QColor(0x00, 0x0D, 0x1A)));
        image->setAutoRaise(true);
        image->setFocusPolicy(Qt::NoFocus);
        image->setCursor(Qt::PointingHandCursor);
        Connect(image, p.Handler);
    }

    GridClientes = Make<QTableView>(background, "GridClientes",
                                    QRect(0, 53, page->width(), page->height() - 53));
    FModel = new TClientesModel(FMTClientes, GridClientes);  // owned by the grid
    GridClientes->setModel(FModel);
    GridClientes->setEditTriggers(QAbstractItemView::NoEditTriggers);
    GridClientes->setSelectionBehavior(QAbstractItemView::SelectRows);
    GridClientes->setSelectionMode(QAbstractItemView::SingleSelection);
    GridClientes->verticalHeader()->hide();
    GridClientes->setShowGrid(false);
    GridClientes->setFrameShape(QFrame::NoFrame);
    GridClientes->setWordWrap(false);
    GridClientes->verticalHeader()->setDefaultSectionSize(22);
    // A selected row selects every column, and Qt would set every title in bold.
    GridClientes->horizontalHeader()->setHighlightSections(false);
    for (int c = 0; c < TClientesModel::kColumns; ++c)
        GridClientes->horizontalHeader()->resizeSection(c, TClientesModel::ColumnWidth(c));
    connect(GridClientes->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (!FSyncingGrid && current.isValid())
                    FMTClientes.SetRecNo(current.row());
            });
    FMTClientes.SetOnDataChange([this] { TableChanged(); });
    return page;
}

QWidget* TFrm_cadastro::BuildRegistrationPage()
{
    auto* page = Make<QWidget>(nullptr, "tbs_cadastro", pgcclientes->rect());
    auto* p = Make<QFrame>(page, "pnl_cadastro", page->rect());
    auto* mode = Make<QFrame>(p, "Panel2", QRect(0, 0, page->width(), 36));
    lbl_opcao = Label(mode, "INCLUSÃO", QPoint(17, 7), "lbl_opcao");
    lbl_opcao->setFixedSize(300, 24);

    const auto mask = [&](const char* name, const char* editMask, QRect geometry) {
        auto* box = new TMaskEdit(QString::fromLatin1(editMask), FMessages, p);  // owned by p
        box->setObjectName(QString::fromLatin1(name));
        box->setGeometry(geometry);
        return box;
    };
    using enum TEditCharCase;
    Label(p, "Dados Pessoais", QPoint(75, 44), "lbl_dados_pessoais")->setProperty("section", true);
    Line(p, "shp_dados_pessoais", QPoint(75, 62));
    Label(p, "Nome", QPoint(75, 75));
    ed_nome = Edit(p, "ed_nome", QPoint(75, 94), 521, ecUpperCase);
    Label(p, "Identidade", QPoint(75, 128));
    ed_ident = mask("ed_ident", R"(00\.000\.0000;0;_)", QRect(75, 145, 85, kEditHeight));
    Label(p, "CPF", QPoint(296, 128));
    ed_cpf = mask("ed_cpf", R"(000\.000\.000-00;0;_)", QRect(297, 145, 98, kEditHeight));
    Label(p, "Telefone", QPoint(501, 128));
    ed_fone = mask("ed_fone", R"(!\(99\)00000-0000;0;_)", QRect(501, 145, 95, kEditHeight));
    // A full number is 92 px of Arial 13 px; the box's inner margins would leave it 89, and
    // the "(" would scroll out of sight with the cursor at the end.
    ed_fone->setTextMargins(-2, 0, -2, 0);
    Label(p, "Email", QPoint(75, 176));
    ed_email = Edit(p, "ed_email", QPoint(75, 195), 322, ecLowerCase);
    ConnectExit(ed_email, &TFrm_cadastro::ed_emailExit);

    Label(p, "Endereço", QPoint(75, 237), "lbl_endereco")->setProperty("section", true);
    Line(p, "shp_endereco", QPoint(75, 255));
    Label(p, "Cep", QPoint(75, 272));
    ed_cep = mask("ed_cep", R"(00000\-999;0;_)", QRect(75, 291, 83, 26));
    ConnectExit(ed_cep, &TFrm_cadastro::ed_cepExit);
    btn_cons_cep = Make<QPushButton>(p, "btn_cons_cep", QRect(161, 291, 28, 26));
    btn_cons_cep->setIcon(DrawGlyph(TGlyph::Search));
    btn_cons_cep->setFocusPolicy(Qt::NoFocus);
    Connect(btn_cons_cep, &TFrm_cadastro::btn_cons_cepClick);
    Label(p, "Logradouro", QPoint(216, 272));
    ed_logradouro = Edit(p, "ed_logradouro", QPoint(213, 293), 338, ecUpperCase);
    Label(p, "Nº", QPoint(573, 272));
    ed_num = Edit(p, "ed_num", QPoint(561, 292), 35);
    ed_num->setAlignment(Qt::AlignCenter);
    Label(p, "Complemento", QPoint(75, 328));
    ed_complemento = Edit(p, "ed_complemento", QPoint(75, 346), 257, ecUpperCase);
    Label(p, "Bairro", QPoint(347, 326));
    ed_bairro = Edit(p, "ed_bairro", QPoint(347, 346), 249, ecUpperCase);
    Label(p, "Cidade", QPoint(75, 380));
    ed_cidade = Edit(p, "ed_cidade", QPoint(75, 398), 362, ecUpperCase);
    Label(p, "Estado", QPoint(455, 380));
    ed_uf = Edit(p, "ed_uf", QPoint(457, 398), 35, ecUpperCase);
    ed_uf->setAlignment(Qt::AlignCenter);
    Label(p, "Pais", QPoint(75, 435));
    ed_pais = Edit(p, "ed_pais", QPoint(75, 453), 362, ecUpperCase);

    mm_dados = Make<QPlainTextEdit>(p, "mm_dados", QRect(616, 62, 201, 360));
    mm_dados->setVisible(false);

    const auto order = Boxes();
    for (std::size_t i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);

    auto* bar = Make<QFrame>(p, "pnl_botoes_cad", QRect(0, page->height() - 49, page->width(), 49));
    auto* cancelar = Button(bar, "btn_cancelar", "Cancelar", TGlyph::Cancel,
                            QRect(bar->width() - 20 - 107, 5, 107, 39));
    auto* gravar = Button(bar, "btn_gravar", " Salvar", TGlyph::Save,
                          QRect(cancelar->x() - 15 - 107, 5, 107, 39));
    for (QPushButton* b : {gravar, cancelar})
        b->setFocusPolicy(Qt::NoFocus);
    Connect(gravar, &TFrm_cadastro::btn_gravarClick);
    Connect(cancelar, &TFrm_cadastro::btn_cancelarClick);
    return page;
}

QWidget* TFrm_cadastro::BuildConfigPage()
{
    auto* page = Make<QWidget>(nullptr, "tbs_config", pgcclientes->rect());
    auto* p = Make<QFrame>(page, "pnl_config", page->rect());
    Label(p, "Caminho Arquivos XML", QPoint(57, 51));
    ed_dir_xml = Edit(p, "ed_dir_xml", QPoint(56, 72), 441);
    ed_dir_xml->setText(QDir::homePath() + QStringLiteral("/Clientes/xml/"));
    Label(p, "Email de", QPoint(57, 149));
    ed_email_de = Edit(p, "ed_email_de", QPoint(57, 168), 248);
    ed_email_de->setText(QStringLiteral("suporte@localhost"));
    Label(p, "Nome", QPoint(353, 149));
    ed_nome_envio = Edit(p, "ed_nome_envio", QPoint(353, 168), 248);
    ed_nome_envio->setText(QStringLiteral("suporte"));
    Label(p, "Host", QPoint(59, 218));
    ed_host = Edit(p, "ed_host", QPoint(56, 236), 248);
    ed_host->setText(QStringLiteral("localhost"));
    Label(p, "Conta Usuario", QPoint(59, 273));
    ed_conta_email = Edit(p, "ed_conta_email", QPoint(56, 291), 248);
    ed_conta_email->setText(QStringLiteral("suporte@localhost"));
    Label(p, "Senha Conta", QPoint(59, 326));
    ed_senha_email = Edit(p, "ed_senha_email", QPoint(56, 343), 248);
    ed_senha_email->setText(QStringLiteral("senha"));
    Label(p, "Porta", QPoint(368, 218));
    Label(p, "Autenticação", QPoint(468, 218));
    auto* frame = Make<QFrame>(p, "shp_porta", QRect(353, 236, 233, 32));
    frame->setFrameShape(QFrame::Box);
    ed_porta = Edit(p, "ed_porta", QPoint(363, 240), 41);
    ed_porta->setText(QStringLiteral("465"));
    ed_porta->setAlignment(Qt::AlignCenter);
    chkTLS = Make<QCheckBox>(p, "chkTLS", QRect(468, 244, 45, 20));
    chkTLS->setText(QStringLiteral("TLS"));
    chkTLS->setChecked(true);
    chkSSL = Make<QCheckBox>(p, "chkSSL", QRect(532, 244, 45, 20));
    chkSSL->setText(QStringLiteral("SSL"));
    chkSSL->setChecked(true);
    QWidget* order[] = {ed_dir_xml, ed_email_de, ed_nome_envio, ed_host, ed_conta_email,
                        ed_senha_email, ed_porta, chkTLS, chkSSL};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    auto* bar = Make<QFrame>(p, "Panel3", QRect(0, page->height() - 49, page->width(), 49));
    auto* voltar = Button(bar, "btn_voltar_config", "Voltar", TGlyph::Back,
                          QRect(bar->width() - 20 - 107, 5, 107, 39));
    voltar->setFocusPolicy(Qt::NoFocus);
    Connect(voltar, &TFrm_cadastro::btn_voltar_configClick);
    return page;
}

void TFrm_cadastro::ApplyStyle()
{
    setStyleSheet(QStringLiteral(R"(
#Frm_cadastro { background: #DFDFDF; }
QLabel { color: #7A7A7A; font-family: Arial; font-size: 13px; }
QLabel[section="true"] { font-weight: bold; }
QFrame[line="true"] { background: #7A7A7A; }
#pnl_menu_top, #pnl_bottom, #pnl_menu_left, #Panel1 { background: #000D1A; }
#stb_envio { background: transparent; color: #E5E5E5; font-family: Arial; font-size: 12px; }
#lbl_titulo { color: #E5E5E5; font-family: Arial; font-size: 32px; font-weight: bold;
              font-style: italic; }
QPushButton { color: white; font-family: Arial; font-size: 14px; border: none;
              border-radius: 3px; padding-left: 10px; padding-right: 10px; }
QPushButton[menu="true"] { background: #000D1A; text-align: left; padding-left: 18px; }
QPushButton[menu="true"]:focus { background: #FF9122; font-weight: bold; }
QPushButton[menu="true"]:pressed { background: #E07A10; }
QPushButton[menu="true"]:disabled { color: #5A6A7A; }
#pnl_dados, #pnl_config { background: #E9E9E9; }
#pnl_cadastro { background: #DFDFDF; }
#pnl_consulta, #Panel2 { background: #E1EDFF; }
#pnl_botoes_cad, #Panel3 { background: transparent; }
#lbl_opcao { color: #000D1A; font-family: Arial; font-size: 19px; font-weight: bold;
             font-style: italic; }
#btn_gravar { background: #0CB665; }
#btn_gravar:pressed { background: #0A9954; }
#btn_cancelar, #btn_voltar_config { background: #DD4D5B; }
#btn_cancelar:pressed, #btn_voltar_config:pressed { background: #B83E4A; }
#btn_cons_cep { background: #0080C0; padding: 0; }
#ed_cep { font-size: 15px; font-weight: bold; }
QLineEdit { background: white; border: 1px solid #B5B5B5; font-family: Arial; font-size: 13px;
            padding: 0px; }
QLineEdit:focus { border: 1px solid #0080C0; }
QTableView { background: white; font-family: Arial; font-size: 13px;
             selection-background-color: #0080C0; selection-color: white; }
QTableView::item { border-bottom: 1px solid #D5D5D5; }
QHeaderView::section { font-family: Arial; font-size: 13px; color: #000D1A;
                       background: #F4F4F4; border: none; border-bottom: 1px solid #B5B5B5;
                       padding: 3px; }
QCheckBox { color: #7A7A7A; font-family: Arial; font-size: 13px; }
)"));
}

void TFrm_cadastro::Connect(QAbstractButton* button, void (TFrm_cadastro::*handler)())
{
    connect(button, &QAbstractButton::clicked, this,
            [this, handler] { RunAction(FMessages, [this, handler] { (this->*handler)(); }); });
}

void TFrm_cadastro::ConnectExit(TEdit* box, void (TFrm_cadastro::*handler)())
{
    box->SetOnExit(
        [this, handler] { RunAction(FMessages, [this, handler] { (this->*handler)(); }); });
}

void TFrm_cadastro::ShowPage(QWidget* page, bool menuEnabled)
{
    pnl_menu_left->setEnabled(menuEnabled);
    pgcclientes->setCurrentWidget(page);
}

void TFrm_cadastro::TableChanged()
{
    FSyncingGrid = true;
    FModel->Reload();
    FSyncingGrid = false;
    SelectCurrentRow();
}

void TFrm_cadastro::SelectCurrentRow()
{
    const int row = FMTClientes.RecNo();
    if (row < 0)
        return;
    FSyncingGrid = true;
    GridClientes->selectRow(row);
    GridClientes->setCurrentIndex(FModel->index(row, 0));
    FSyncingGrid = false;
}

// --- start and stop ----------------------------------------------------------

void TFrm_cadastro::FormCreate(TClock today)
{
    FMTClientes.Open();
    Fcampos_cad.clear();
    Fvcontador = 1;
    Fvdata_arq_xml = data_arq_xml(today());
    EsconderAbas(pgcclientes);
    ShowPage(tbs_dados, true);
}

void TFrm_cadastro::EsconderAbas(QStackedWidget* pageControl)
{
    // A stacked widget draws no tabs: only the first page needs showing.
    if (pageControl->count() > 0)
        pageControl->setCurrentIndex(0);
}

void TFrm_cadastro::closeEvent(QCloseEvent* event)
{
    FMTClientes.Close();
    event->accept();
}

QStringList TFrm_cadastro::mm_dados_lines() const
{
    const QString text = mm_dados->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

// --- menu and pages ----------------------------------------------------------

void TFrm_cadastro::btn_imprimirClick()
{
}

void TFrm_cadastro::btn_configClick()
{
    ShowPage(tbs_config, false);
}

void TFrm_cadastro::btn_voltar_configClick()
{
    ShowPage(tbs_dados, true);
}

void TFrm_cadastro::btn_sairClick()
{
    close();
}

void TFrm_cadastro::Image2Click()
{
    FMTClientes.SetFilter(NameSearchFilter(ed_pesquisa->text().toStdString()));
    FMTClientes.SetFiltered(true);
}

void TFrm_cadastro::Image1Click()
{
    FMTClientes.SetFiltered(false);
    ed_pesquisa->clear();
}

// --- registration flows ------------------------------------------------------

void TFrm_cadastro::btn_incluirClick()
{
    Fvopcao = QStringLiteral("I");
    lbl_opcao->setText(QStringLiteral("INCLUSÃO"));
    ShowPage(tbs_cadastro, false);
    limpar_campos();
    ed_nome->setFocus();
}

void TFrm_cadastro::btn_alterarClick()
{
    Fvopcao = QStringLiteral("A");
    lbl_opcao->setText(QStringLiteral("ALTERACÃO"));
    ShowPage(tbs_cadastro, false);
    limpar_campos();
    mostrar_dados();
    ed_nome->setFocus();
}

void TFrm_cadastro::btn_excluirClick()
{
    FMessages.ShowMessage("EXCLUIR CLIENTE");
    FMTClientes.Delete();
}

void TFrm_cadastro::btn_cancelarClick()
{
    ShowPage(tbs_dados, true);
}

void TFrm_cadastro::btn_gravarClick()
{
    validar_mascaras();
    if (Fvopcao == QLatin1String("I")) {
        if (ed_nome->text().isEmpty()) {
            FMessages.ShowMessage("Preenchimento Obrigatorio");
            ed_nome->setFocus();
            return;
        }
        if (ed_cep->Text().isEmpty()) {
            FMessages.ShowMessage("Preenchimento Obrigatorio");
            ed_cep->setFocus();
            return;
        }
        inserir_cliente();
        Fvnome_arq = nome_arq_xml(Fvcontador, Fvdata_arq_xml);
        gravar_xml();
        enviar_email();
    } else if (Fvopcao == QLatin1String("A")) {
        alterar_cliente();
    }
    ShowPage(tbs_dados, true);
    FMTClientes.Refresh();
}

void TFrm_cadastro::validar_mascaras()
{
    // Salvar never takes the focus, so clicking it leaves no box: the leave check of each
    // masked box runs here, in tab order, and the first that fails keeps the focus.
    for (TMaskEdit* box : {ed_ident, ed_cpf, ed_fone, ed_cep}) {
        try {
            box->ValidateEdit();
        } catch (...) {
            box->setFocus();
            throw;
        }
    }
}

void TFrm_cadastro::ed_emailExit()
{
    if (!ed_email->text().isEmpty())
        return;
    // The focus goes back first, as if it had never left.
    ed_email->setFocus();
    FMessages.ShowMessage("Digite um email valido !!");
}

const std::array<TFrm_cadastro::TBoxField, 13> TFrm_cadastro::kBoxFields = {{
    {"Nome", "Nome", "Nome"},
    {"Identidade", "Identidade", "Identidade"},
    {"cpf", "CPF", "Cpf"},
    {"telefone", "Telefone", "Telefone"},
    {"email", "Email", "Email"},
    {"cep", "Cep", "Cep"},
    {"logradouro", "Logradouro", "Logradouro"},
    {"numero", "Numero", "Numero"},
    {"complemento", "Complemento", "Complemento"},
    {"bairro", "Bairro", "Bairro"},
    {"cidade", "Cidade", "Cidade"},
    {"uf", "UF", "UF"},
    {"pais", "Pais", "Pais"},
}};

std::array<TEdit*, 13> TFrm_cadastro::Boxes() const
{
    return {ed_nome,       ed_ident,       ed_cpf,    ed_fone,   ed_email, ed_cep, ed_logradouro,
            ed_num,        ed_complemento, ed_bairro, ed_cidade, ed_uf,    ed_pais};
}

void TFrm_cadastro::inserir_cliente()
{
    Fvcontador = FMTClientes.RecordCount() != 0 ? Fvcontador + 1 : 1;
    // A counter whose file is already in the folder would replace an earlier customer's
    // file: the new customer takes the first number that is free, as id and file name.
    Fvcontador = proximo_contador_livre(ed_dir_xml->text(), Fvcontador, Fvdata_arq_xml);
    FMTClientes.Insert();
    FMTClientes.FieldByName("id_cliente").SetAsInteger(Fvcontador);
    const auto boxes = Boxes();
    for (std::size_t i = 0; i < boxes.size(); ++i)
        FMTClientes.FieldByName(kBoxFields[i].Insert).SetAsString(boxes[i]->Text().toStdString());
    FMTClientes.Post();

    mm_dados->clear();
    Fcampos_cad.clear();
    Fcampos_cad << QStringLiteral("Nome : ") + ed_nome->Text()
                << QStringLiteral("Ident : ") + ed_ident->Text()
                << QStringLiteral("CPF : ") + ed_cpf->Text()
                << QStringLiteral("Telefone : ") + ed_fone->Text()
                << QStringLiteral("Email : ") + ed_email->Text()
                << QStringLiteral("CEP : ") + ed_cep->Text()
                << QStringLiteral("Logradouro : ") + ed_logradouro->Text()
                       + QStringLiteral(", Num : ") + ed_num->Text()
                << QStringLiteral("Complemento : ") + ed_complemento->Text()
                << QStringLiteral("Bairro : ") + ed_bairro->Text()
                << QStringLiteral("Cidade : ") + ed_cidade->Text() + QStringLiteral(" - ")
                       + ed_uf->Text()
                << QStringLiteral("Pais : ") + ed_pais->Text();
    for (const QString& line : Fcampos_cad)
        mm_dados->appendPlainText(line);
}

void TFrm_cadastro::alterar_cliente()
{
    FMTClientes.Edit();
    const auto boxes = Boxes();
    for (std::size_t i = 0; i < boxes.size(); ++i)
        FMTClientes.FieldByName(kBoxFields[i].Alter).SetAsString(boxes[i]->Text().toStdString());
    FMTClientes.Post();
}

void TFrm_cadastro::mostrar_dados()
{
    const auto boxes = Boxes();
    for (std::size_t i = 0; i < boxes.size(); ++i)
        boxes[i]->SetText(
            QString::fromStdString(FMTClientes.FieldByName(kBoxFields[i].Load).AsString()));
}

void TFrm_cadastro::limpar_campos()
{
    for (TEdit* box : Boxes())
        box->Clear();
    mm_dados->clear();
}

// --- the XML file, the mail and the postal-code lookup -------------------------

void TFrm_cadastro::gravar_xml()
{
    const TCustomerXmlData data{
        ed_nome->Text(),       ed_ident->Text(),  ed_cpf->Text(),         ed_fone->Text(),
        ed_email->Text(),      ed_cep->Text(),    ed_logradouro->Text(),  ed_num->Text(),
        ed_complemento->Text(), ed_bairro->Text(), ed_cidade->Text(),     ed_uf->Text(),
        ed_pais->Text()};
    gravar_arquivo_xml(data, ed_dir_xml->text() + Fvnome_arq);
}

void TFrm_cadastro::enviar_email()
{
    mail::TMailSender& mail = *FMailSender1;
    mail.Clear();
    mail.SetSubject("Dados Cadastrais do Cliente");
    parametros_email();
    mail.AltBody().clear();
    for (const QString& line : mm_dados_lines())
        mail.AltBody().push_back(line.toStdString());

    const std::string path = (ed_dir_xml->text() + Fvnome_arq).toStdString();
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw std::runtime_error("Cannot open file \"" + path + "\". " + std::strerror(errno));
    std::stringstream bytes;
    bytes << file.rdbuf();
    mail.AddAttachment(&bytes, Fvnome_arq.toStdString(), mail::TMailAttachmentDisposition::adAttachment);

    // Returns when the send has ended; meanwhile the window paints but takes no input.
    // The bottom bar is empty again when the send ends, unless it tells why it failed.
    const auto barraLimpa = qScopeGuard([this] {
        if (!FProgresso.Falhou())
            stb_envio->clearMessage();
    });
    enviar_aguardando(mail);
}

void TFrm_cadastro::parametros_email()
{
    mail::TMailSender& mail = *FMailSender1;
    mail.SetFrom(ed_email_de->text().toStdString());
    mail.SetFromName(ed_nome_envio->text().toStdString());
    mail.SetHost(ed_host->text().toStdString());
    // The password goes only to a server whose certificate holds, or that the operator
    // trusts; traffic to this machine itself never leaves it.
    mail.SetVerifyCert(!mail::IsLoopbackHost(mail.Host()));
    mail.SetUsername(ed_conta_email->text().toStdString());
    mail.SetPassword(ed_senha_email->text().toStdString());
    mail.SetPort(ed_porta->text().toStdString());
    mail.SetTLS(chkTLS->isChecked());
    mail.SetSSL(chkSSL->isChecked());
    mail.SetDefaultCharset(mime::TMimeChar::UTF_8);
    mail.SetIDECharset(mime::TMimeChar::CP1252);
    mail.AddAddress(ed_email->text().toStdString(), ed_email->text().toStdString());
}

void TFrm_cadastro::MailSender1MailException(const mail::TMailSender&, const std::exception& E,
                                             bool& ThrowIt)
{
    ThrowIt = false;
    try {
        FMessages.ShowMessage("Dados foram Gravados mas ocorreu \r*** Erro ao Enviar o email ***\r"
                              "******    Verifique !!  ******");
        ShowPage(tbs_dados, true);
    } catch (...) {
        FMessages.ShowMessage(E.what());
    }
}

void TFrm_cadastro::MailSender1MailProcess(const mail::TMailSender& AMail,
                                           mail::TMailStatus aStatus)
{
    if (aStatus == mail::TMailStatus::pmsError)
        stb_envio->showMessage(FProgresso.Falha(AMail.LastFailure()));
    else
        stb_envio->showMessage(FProgresso.Passo(aStatus, AMail.Attempts()));
}

void TFrm_cadastro::MailSender1CertificateQuestion(const mail::TMailSender&,
                                                   const mail::TCertificateQuestion& Question,
                                                   bool& Trust)
{
    Trust = FMessages.AskQuestion(PerguntaCertificado(Question).toStdString());
}

TAlvosCep TFrm_cadastro::AlvosCep()
{
    const auto into = [](TEdit* box) { return [box](const QString& text) { box->setText(text); }; };
    return {[this](const QString& text) { FMessages.ShowMessage(text.toStdString()); },
            {into(ed_logradouro), into(ed_complemento), into(ed_bairro), into(ed_cidade),
             into(ed_uf)}};
}

void TFrm_cadastro::ed_cepExit()
{
    if (!FDMDados)
        return;
    if (ConsultarCEPAoSair(ed_cep->Text(), *FDMDados, AlvosCep()) != TResultadoCep::rcPreenchido)
        ed_cep->setFocus();
}

void TFrm_cadastro::btn_cons_cepClick()
{
    ConsultarCEP(ed_cep->Text());
}

void TFrm_cadastro::ConsultarCEP(const QString& cep)
{
    if (!FDMDados)
        return;
    if (app::ConsultarCEP(cep, *FDMDados, AlvosCep()) != TResultadoCep::rcPreenchido)
        ed_cep->setFocus();
}

}  // namespace tandrel::app

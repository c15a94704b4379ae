#include "app/Frm_cadastro.h"

#include "app/CepLookup.h"
#include "app/ClientesModel.h"
#include "app/CustomerXml.h"
#include "app/Edit.h"
#include "app/FalhaEnvio.h"
#include "app/MailDispatch.h"
#include "app/MaskEdit.h"
#include "app/Messages.h"
#include "mail/LoopbackHost.h"
#include "mail/MailSender.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QScreen>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTableView>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace tandrel::app {

std::vector<TFieldDef> ClienteFieldDefs() {
    using enum TFieldType;
    return {{"Nome", ftString, 50},       {"Identidade", ftString, 10},  {"cpf", ftString, 12},
            {"telefone", ftString, 12},   {"email", ftString, 50},       {"cep", ftString, 8},
            {"logradouro", ftString, 50}, {"complemento", ftString, 30}, {"bairro", ftString, 50},
            {"cidade", ftString, 50},     {"uf", ftString, 2},           {"pais", ftString, 30},
            {"id_cliente", ftInteger, 0}, {"numero", ftString, 4}};
}

TFrm_cadastro::TFrm_cadastro(TMessages& Messages, TClock Today, QWidget* Parent)
    : QWidget(Parent, Qt::Window | Qt::FramelessWindowHint),
      FMessages(Messages),
      FMTClientes("MTClientes", ClienteFieldDefs()),
      FMailSender1(std::make_unique<mail::TMailSender>()) {
    FMailSender1->SetAttempts(3);
    FMailSender1->SetOnMailException([this](const mail::TMailSender& AMail, const std::exception& E,
                                            bool& ThrowIt) { MailSender1MailException(AMail, E, ThrowIt); });
    FMailSender1->SetOnMailProcess([this](const mail::TMailSender& AMail, mail::TMailStatus aStatus) {
        MailSender1MailProcess(AMail, aStatus);
    });
    FMailSender1->SetOnCertificateQuestion(
        [this](const mail::TMailSender& AMail, const mail::TCertificateQuestion& Question, bool& Trust) {
            MailSender1CertificateQuestion(AMail, Question, Trust);
        });
    FMailSender1->SetOnMailAttempt([this](const mail::TMailSender&, unsigned Attempt) {
        stb_envio->showMessage(FProgresso.Tentativa(Attempt));
    });
    SetUpControls();
    ConnectHandlers();
    if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
    FormCreate(std::move(Today));
}

TFrm_cadastro::~TFrm_cadastro() { FMTClientes.SetOnDataChange(nullptr); }

// --- handlers' connections ---------------------------------------------------

void TFrm_cadastro::ConnectHandlers() {
    const std::pair<QAbstractButton*, void (TFrm_cadastro::*)()> clicks[] = {
        {btn_incluir, &TFrm_cadastro::btn_incluirClick},
        {btn_alterar, &TFrm_cadastro::btn_alterarClick},
        {btn_excluir, &TFrm_cadastro::btn_excluirClick},
        {btn_imprimir, &TFrm_cadastro::btn_imprimirClick},
        {btn_config, &TFrm_cadastro::btn_configClick},
        {btn_sair, &TFrm_cadastro::btn_sairClick},
        {Image2, &TFrm_cadastro::Image2Click},
        {Image1, &TFrm_cadastro::Image1Click},
        {btn_cons_cep, &TFrm_cadastro::btn_cons_cepClick},
        {btn_gravar, &TFrm_cadastro::btn_gravarClick},
        {btn_cancelar, &TFrm_cadastro::btn_cancelarClick},
        {btn_voltar_config, &TFrm_cadastro::btn_voltar_configClick},
    };
    for (const auto& [button, handler] : clicks) Connect(button, handler);
    ConnectExit(ed_email, &TFrm_cadastro::ed_emailExit);
    ConnectExit(ed_cep, &TFrm_cadastro::ed_cepExit);

    connect(GridClientes->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& Current) {
                if (!FSyncingGrid && Current.isValid()) FMTClientes.SetRecNo(Current.row());
            });
    FMTClientes.SetOnDataChange([this] { TableChanged(); });
}

void TFrm_cadastro::Connect(QAbstractButton* Button, void (TFrm_cadastro::*Handler)()) {
    connect(Button, &QAbstractButton::clicked, this,
            [this, Handler] { RunAction(FMessages, [this, Handler] { (this->*Handler)(); }); });
}

void TFrm_cadastro::ConnectExit(TEdit* Box, void (TFrm_cadastro::*Handler)()) {
    Box->SetOnExit([this, Handler] { RunAction(FMessages, [this, Handler] { (this->*Handler)(); }); });
}

void TFrm_cadastro::ShowPage(QWidget* Page, bool MenuEnabled) {
    pnl_menu_left->setEnabled(MenuEnabled);
    pgcclientes->setCurrentWidget(Page);
}

void TFrm_cadastro::TableChanged() {
    FSyncingGrid = true;
    FModel->Reload();
    FSyncingGrid = false;
    SelectCurrentRow();
}

void TFrm_cadastro::SelectCurrentRow() {
    const int row = FMTClientes.RecNo();
    if (row < 0) return;
    FSyncingGrid = true;
    GridClientes->selectRow(row);
    GridClientes->setCurrentIndex(FModel->index(row, 0));
    FSyncingGrid = false;
}

// --- start and stop ----------------------------------------------------------

void TFrm_cadastro::FormCreate(TClock Today) {
    FMTClientes.Open();
    Fcampos_cad.clear();
    Fvcontador = 1;
    Fvdata_arq_xml = data_arq_xml(Today());
    EsconderAbas(pgcclientes);
    ShowPage(tbs_dados, true);
}

void TFrm_cadastro::EsconderAbas(QStackedWidget* PageControl) {
    // A stacked widget draws no tabs: only the first page needs showing.
    if (PageControl->count() > 0) PageControl->setCurrentIndex(0);
}

void TFrm_cadastro::closeEvent(QCloseEvent* Event) {
    FMTClientes.Close();
    Event->accept();
}

QStringList TFrm_cadastro::mm_dados_lines() const {
    const QString text = mm_dados->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

// --- menu and pages ----------------------------------------------------------

void TFrm_cadastro::btn_imprimirClick() {}

void TFrm_cadastro::btn_configClick() { ShowPage(tbs_config, false); }

void TFrm_cadastro::btn_voltar_configClick() { ShowPage(tbs_dados, true); }

void TFrm_cadastro::btn_sairClick() { close(); }

void TFrm_cadastro::Image2Click() {
    FMTClientes.SetFilter(NameSearchFilter(ed_pesquisa->text().toStdString()));
    FMTClientes.SetFiltered(true);
}

void TFrm_cadastro::Image1Click() {
    FMTClientes.SetFiltered(false);
    ed_pesquisa->clear();
}

// --- registration flows ------------------------------------------------------

void TFrm_cadastro::btn_incluirClick() {
    Fvopcao = QStringLiteral("I");
    lbl_opcao->setText(QStringLiteral("INCLUSÃO"));
    ShowPage(tbs_cadastro, false);
    limpar_campos();
    ed_nome->setFocus();
}

void TFrm_cadastro::btn_alterarClick() {
    Fvopcao = QStringLiteral("A");
    lbl_opcao->setText(QStringLiteral("ALTERACÃO"));
    ShowPage(tbs_cadastro, false);
    limpar_campos();
    mostrar_dados();
    ed_nome->setFocus();
}

void TFrm_cadastro::btn_excluirClick() {
    FMessages.ShowMessage("EXCLUIR CLIENTE");
    FMTClientes.Delete();
}

void TFrm_cadastro::btn_cancelarClick() { ShowPage(tbs_dados, true); }

void TFrm_cadastro::btn_gravarClick() {
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

void TFrm_cadastro::validar_mascaras() {
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

void TFrm_cadastro::ed_emailExit() {
    if (!ed_email->text().isEmpty()) return;
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

std::array<TEdit*, 13> TFrm_cadastro::Boxes() const {
    return {ed_nome, ed_ident,       ed_cpf,    ed_fone,   ed_email, ed_cep, ed_logradouro,
            ed_num,  ed_complemento, ed_bairro, ed_cidade, ed_uf,    ed_pais};
}

void TFrm_cadastro::inserir_cliente() {
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
                << QStringLiteral("Ident : ") + ed_ident->Text() << QStringLiteral("CPF : ") + ed_cpf->Text()
                << QStringLiteral("Telefone : ") + ed_fone->Text()
                << QStringLiteral("Email : ") + ed_email->Text() << QStringLiteral("CEP : ") + ed_cep->Text()
                << QStringLiteral("Logradouro : ") + ed_logradouro->Text() + QStringLiteral(", Num : ") +
                       ed_num->Text()
                << QStringLiteral("Complemento : ") + ed_complemento->Text()
                << QStringLiteral("Bairro : ") + ed_bairro->Text()
                << QStringLiteral("Cidade : ") + ed_cidade->Text() + QStringLiteral(" - ") + ed_uf->Text()
                << QStringLiteral("Pais : ") + ed_pais->Text();
    for (const QString& line : Fcampos_cad) mm_dados->appendPlainText(line);
}

void TFrm_cadastro::alterar_cliente() {
    FMTClientes.Edit();
    const auto boxes = Boxes();
    for (std::size_t i = 0; i < boxes.size(); ++i)
        FMTClientes.FieldByName(kBoxFields[i].Alter).SetAsString(boxes[i]->Text().toStdString());
    FMTClientes.Post();
}

void TFrm_cadastro::mostrar_dados() {
    const auto boxes = Boxes();
    for (std::size_t i = 0; i < boxes.size(); ++i)
        boxes[i]->SetText(QString::fromStdString(FMTClientes.FieldByName(kBoxFields[i].Load).AsString()));
}

void TFrm_cadastro::limpar_campos() {
    for (TEdit* box : Boxes()) box->Clear();
    mm_dados->clear();
}

// --- the XML file, the mail and the postal-code lookup -------------------------

void TFrm_cadastro::gravar_xml() {
    const TCustomerXmlData data{
        ed_nome->Text(),   ed_ident->Text(),      ed_cpf->Text(), ed_fone->Text(),        ed_email->Text(),
        ed_cep->Text(),    ed_logradouro->Text(), ed_num->Text(), ed_complemento->Text(), ed_bairro->Text(),
        ed_cidade->Text(), ed_uf->Text(),         ed_pais->Text()};
    gravar_arquivo_xml(data, ed_dir_xml->text() + Fvnome_arq);
}

void TFrm_cadastro::enviar_email() {
    mail::TMailSender& mail = *FMailSender1;
    mail.Clear();
    mail.SetSubject("Dados Cadastrais do Cliente");
    parametros_email();
    mail.AltBody().clear();
    for (const QString& line : mm_dados_lines()) mail.AltBody().push_back(line.toStdString());

    const std::string path = (ed_dir_xml->text() + Fvnome_arq).toStdString();
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("Cannot open file \"" + path + "\". " + std::strerror(errno));
    std::stringstream bytes;
    bytes << file.rdbuf();
    mail.AddAttachment(&bytes, Fvnome_arq.toStdString(), mail::TMailAttachmentDisposition::adAttachment);

    // Returns when the send has ended; meanwhile the window paints but takes no input.
    // The bottom bar is empty again when the send ends, unless it tells why it failed.
    const auto barraLimpa = qScopeGuard([this] {
        if (!FProgresso.Falhou()) stb_envio->clearMessage();
    });
    enviar_aguardando(mail);
}

void TFrm_cadastro::parametros_email() {
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
                                             bool& ThrowIt) {
    ThrowIt = false;
    try {
        FMessages.ShowMessage(
            "Dados foram Gravados mas ocorreu \r*** Erro ao Enviar o email ***\r"
            "******    Verifique !!  ******");
        ShowPage(tbs_dados, true);
    } catch (...) {
        FMessages.ShowMessage(E.what());
    }
}

void TFrm_cadastro::MailSender1MailProcess(const mail::TMailSender& AMail, mail::TMailStatus aStatus) {
    if (aStatus == mail::TMailStatus::pmsError)
        stb_envio->showMessage(FProgresso.Falha(AMail.LastFailure()));
    else
        stb_envio->showMessage(FProgresso.Passo(aStatus, AMail.Attempts()));
}

void TFrm_cadastro::MailSender1CertificateQuestion(const mail::TMailSender&,
                                                   const mail::TCertificateQuestion& Question, bool& Trust) {
    Trust = FMessages.AskQuestion(PerguntaCertificado(Question).toStdString());
}

TAlvosCep TFrm_cadastro::AlvosCep() {
    const auto into = [](TEdit* Box) { return [Box](const QString& Text) { Box->setText(Text); }; };
    return {[this](const QString& Text) { FMessages.ShowMessage(Text.toStdString()); },
            {into(ed_logradouro), into(ed_complemento), into(ed_bairro), into(ed_cidade), into(ed_uf)}};
}

void TFrm_cadastro::ed_cepExit() {
    if (!FDMDados) return;
    if (ConsultarCEPAoSair(ed_cep->Text(), *FDMDados, AlvosCep()) != TResultadoCep::rcPreenchido)
        ed_cep->setFocus();
}

void TFrm_cadastro::btn_cons_cepClick() { ConsultarCEP(ed_cep->Text()); }

void TFrm_cadastro::ConsultarCEP(const QString& cep) {
    if (!FDMDados) return;
    if (app::ConsultarCEP(cep, *FDMDados, AlvosCep()) != TResultadoCep::rcPreenchido) ed_cep->setFocus();
}

}  // namespace tandrel::app

#pragma once

#include "app/MemTable.h"
#include "app/ProgressoEnvio.h"
#include "ui_Frm_cadastro.h"

#include <QDate>
#include <QStringList>
#include <QWidget>

#include <array>
#include <exception>
#include <functional>
#include <memory>
#include <string>

class QAbstractButton;
class QStackedWidget;

namespace tandrel::mail {
class TMailSender;
struct TCertificateQuestion;
}  // namespace tandrel::mail

namespace tandrel::app {

class TClientesModel;
class TDMDados;
class TMessages;
struct TAlvosCep;

/// The fields of the customer table, in declared order.
std::vector<TFieldDef> ClienteFieldDefs();

/// The program's window "CADASTRO CLIENTES": the left menu, the list page with the name
/// search and the customer grid, the registration page and the parameters page, and the
/// include, alter and delete flows. Every operator action runs inside the default error
/// display of `TMessages`, so no error escapes to Qt. Its controls are those of the form file
/// `Frm_cadastro.ui`, under the names given there.
class TFrm_cadastro : public QWidget, private Ui::Frm_cadastro {
    Q_OBJECT
public:
    /// Today's date, asked once at creation for the XML file names.
    using TClock = std::function<QDate()>;

    /// Creates the window (not shown), its controls and its empty customer table.
    /// `Messages` shows every message and error and must outlive the window.
    explicit TFrm_cadastro(TMessages& Messages, TClock Today = &QDate::currentDate,
                           QWidget* Parent = nullptr);
    ~TFrm_cadastro() override;

    /// The postal-code lookup's container; while null, the CEP box and its button look
    /// nothing up. Not owned; must outlive the window or be reset first.
    void SetDMDados(TDMDados* Value) { FDMDados = Value; }
    TDMDados* DMDados() const { return FDMDados; }

    /// Editing mode of the registration page: "I", "A" or empty.
    const QString& vopcao() const { return Fvopcao; }
    /// Id of the last included customer; also the number of its XML file name.
    int vcontador() const { return Fvcontador; }
    /// Start-up date "ddmmyyyy" used in every XML file name.
    const QString& vdata_arq_xml() const { return Fvdata_arq_xml; }
    /// File name (no folder) of the XML file of the customer being included.
    const QString& vnome_arq() const { return Fvnome_arq; }
    /// The eleven summary lines of the customer last included.
    const QStringList& campos_cad() const { return Fcampos_cad; }
    /// The lines of the hidden box `mm_dados` (the mail body).
    QStringList mm_dados_lines() const;
    /// The customer table.
    TMemTable& MTClientes() { return FMTClientes; }

    // Operator actions. Each may raise; the window's connections run them inside
    // the default error display.
    void btn_incluirClick();
    void btn_alterarClick();
    void btn_excluirClick();
    void btn_imprimirClick();
    void btn_configClick();
    void btn_voltar_configClick();
    void btn_sairClick();
    void btn_gravarClick();
    void btn_cancelarClick();
    void Image1Click();
    void Image2Click();
    void ed_emailExit();
    void ed_cepExit();
    void btn_cons_cepClick();
    /// Called by the mail component when a send fails after its attempts: tells the
    /// operator, returns to the list and clears `ThrowIt` (the send then ends silently).
    void MailSender1MailException(const mail::TMailSender& AMail, const std::exception& E, bool& ThrowIt);
    /// Called by the mail component at each step of a send: the bottom bar tells the step,
    /// and after a failure why the mail was not sent (the line stays until the next send).
    void MailSender1MailProcess(const mail::TMailSender& AMail, mail::TMailStatus aStatus);
    /// Called by the mail component when the server's certificate fails the check: asks
    /// the operator whether to trust it; "Sim" sets `Trust` (the component then trusts it
    /// for that host until the program ends).
    void MailSender1CertificateQuestion(const mail::TMailSender& AMail,
                                        const mail::TCertificateQuestion& Question, bool& Trust);
    /// The window's mail component, reused for every inclusion.
    mail::TMailSender& MailSender1() { return *FMailSender1; }

protected:
    void closeEvent(QCloseEvent* Event) override;

private:
    void FormCreate(TClock Today);
    void EsconderAbas(QStackedWidget* PageControl);
    void inserir_cliente();
    void alterar_cliente();
    void mostrar_dados();
    void limpar_campos();
    void validar_mascaras();
    void gravar_xml();
    void enviar_email();
    void parametros_email();
    void ConsultarCEP(const QString& cep);
    TAlvosCep AlvosCep();

    // The field names the flows use for each box of `Boxes()`, in the same order.
    struct TBoxField {
        const char* Insert;  // inserir_cliente
        const char* Alter;   // alterar_cliente
        const char* Load;    // mostrar_dados
    };
    static const std::array<TBoxField, 13> kBoxFields;
    /// The thirteen boxes of the registration page, name first, country last.
    std::array<TEdit*, 13> Boxes() const;

    /// Builds the controls of the form file and gives them what it cannot say
    /// (Frm_cadastroControls.cpp).
    void SetUpControls();
    /// Connects each button and exit hook to its handler, run inside the default error
    /// display, and the grid to the customer table.
    void ConnectHandlers();
    void Connect(QAbstractButton* Button, void (TFrm_cadastro::*Handler)());
    void ConnectExit(TEdit* Box, void (TFrm_cadastro::*Handler)());
    void ShowPage(QWidget* Page, bool MenuEnabled);
    void TableChanged();
    void SelectCurrentRow();

    TMessages& FMessages;
    TDMDados* FDMDados = nullptr;
    TMemTable FMTClientes;
    std::unique_ptr<mail::TMailSender> FMailSender1;
    TClientesModel* FModel = nullptr;
    bool FSyncingGrid = false;

    QString Fvopcao;
    int Fvcontador = 1;
    QString Fvdata_arq_xml;
    QString Fvnome_arq;
    QStringList Fcampos_cad;
    TProgressoEnvio FProgresso;  // what the bottom bar says during a send
};

}  // namespace tandrel::app

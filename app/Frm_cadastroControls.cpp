// The window's controls: the form file builds them; here they get what it cannot say.
#include "app/ClientesModel.h"
#include "app/Frm_cadastro.h"
#include "app/Glyphs.h"

#include <QDir>
#include <QHeaderView>
#include <QLabel>

#include <utility>

namespace tandrel::app {

void TFrm_cadastro::SetUpControls() {
    setupUi(this);

    const std::pair<QAbstractButton*, TGlyph> pictures[] = {
        {btn_incluir, TGlyph::Add},        {btn_alterar, TGlyph::Edit},    {btn_excluir, TGlyph::Remove},
        {btn_imprimir, TGlyph::Print},     {btn_config, TGlyph::Settings}, {btn_sair, TGlyph::Exit},
        {btn_cons_cep, TGlyph::Search},    {btn_gravar, TGlyph::Save},     {btn_cancelar, TGlyph::Cancel},
        {btn_voltar_config, TGlyph::Back},
    };
    for (const auto& [button, glyph] : pictures) button->setIcon(DrawGlyph(glyph));
    // The search pictures sit on the pale search bar.
    Image2->setIcon(DrawGlyph(TGlyph::Search, QColor(0x00, 0x0D, 0x1A)));
    Image1->setIcon(DrawGlyph(TGlyph::Clear, QColor(0x00, 0x0D, 0x1A)));

    const std::pair<TMaskEdit*, const char*> masks[] = {
        {ed_ident, R"(00\.000\.0000;0;_)"},
        {ed_cpf, R"(000\.000\.000-00;0;_)"},
        {ed_fone, R"(!\(99\)00000-0000;0;_)"},
        {ed_cep, R"(00000\-999;0;_)"},
    };
    for (const auto& [box, mask] : masks) {
        box->SetMessages(FMessages);
        box->SetEditMask(QString::fromLatin1(mask));
    }
    // A full number is 92 px of Arial 13 px; the box's inner margins would leave it 89, and
    // the "(" would scroll out of sight with the cursor at the end.
    ed_fone->setTextMargins(-2, 0, -2, 0);
    for (TEdit* box :
         {ed_pesquisa, ed_nome, ed_logradouro, ed_complemento, ed_bairro, ed_cidade, ed_uf, ed_pais})
        box->SetCharCase(TEditCharCase::ecUpperCase);
    ed_email->SetCharCase(TEditCharCase::ecLowerCase);
    ed_dir_xml->setText(QDir::homePath() + QStringLiteral("/Clientes/xml/"));

    FModel = new TClientesModel(FMTClientes, GridClientes);  // owned by the grid
    GridClientes->setModel(FModel);
    for (int c = 0; c < TClientesModel::kColumns; ++c)
        GridClientes->horizontalHeader()->resizeSection(c, TClientesModel::ColumnWidth(c));

    // A press on the text drags the window as a press on the bar does.
    stb_envio->setAttribute(Qt::WA_TransparentForMouseEvents);

    // Labels take the size of their text in the font the style sheet gives them; the mode
    // title keeps its fixed size.
    for (QLabel* label : findChildren<QLabel*>()) {
        label->ensurePolished();
        if (label != lbl_opcao) label->adjustSize();
    }
}

}  // namespace tandrel::app

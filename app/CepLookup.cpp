#include "app/CepLookup.h"

#include "app/DMDados.h"

#include <QCursor>
#include <QEvent>
#include <QGuiApplication>

namespace tandrel::app {

namespace {

// Swallows the operator's input for the whole application while a lookup runs.
class InputFilter : public QObject {
public:
    bool eventFilter(QObject*, QEvent* Event) override {
        switch (Event->type()) {
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::ShortcutOverride:
            case QEvent::Shortcut:
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::NonClientAreaMouseButtonPress:
            case QEvent::NonClientAreaMouseButtonRelease:
            case QEvent::NonClientAreaMouseButtonDblClick:
            case QEvent::Wheel:
            case QEvent::TouchBegin:
            case QEvent::TouchUpdate:
            case QEvent::TouchEnd:
            case QEvent::TabletPress:
            case QEvent::TabletRelease:
            case QEvent::ContextMenu:
            case QEvent::InputMethod: return true;
            default: return false;
        }
    }
};

bool EhVerdadeiro(const QString* Valor) {
    // The table keeps JSON true as the text "true", so both spellings meet here.
    return Valor && *Valor == QLatin1String("true");
}

TResultadoCep Avisar(const TAlvosCep& Alvos, TResultadoCep Resultado) {
    if (Alvos.Mensagem) Alvos.Mensagem(MensagemCep(Resultado));
    return Resultado;
}

}  // namespace

QString SomenteNumero(const QString& str) {
    QString digitos;
    for (const QChar c : str)
        if (c >= u'0' && c <= u'9') digitos += c;
    return digitos;
}

QString MensagemCep(TResultadoCep Resultado) {
    switch (Resultado) {
        case TResultadoCep::rcPreenchido: return {};
        case TResultadoCep::rcCepInvalido: return QStringLiteral("CEP inválido");
        case TResultadoCep::rcErroConsulta: return QStringLiteral("Erro ao consultar CEP");
        case TResultadoCep::rcNaoEncontrado: return QStringLiteral("CEP não encontrado");
        case TResultadoCep::rcObrigatorio: return QStringLiteral("PREENCHIMENTO OBRIGATORIO");
    }
    return {};
}

TResultadoCep ConsultarCEP(const QString& cep, TDMDados& Dados, const TAlvosCep& Alvos) {
    const QString digitos = SomenteNumero(cep);
    if (digitos.size() != 8) return Avisar(Alvos, TResultadoCep::rcCepInvalido);

    Dados.RESTRequest1().SetResource(digitos + QStringLiteral("/json"));
    {
        TBloqueioEntrada bloqueio;
        Dados.RESTRequest1().Execute();
    }

    if (Dados.RESTResponse1().StatusCode() != 200) return Avisar(Alvos, TResultadoCep::rcErroConsulta);
    const TJsonTable& tabela = Dados.MemTable();
    if (EhVerdadeiro(tabela.FindField(QStringLiteral("erro"))))
        return Avisar(Alvos, TResultadoCep::rcNaoEncontrado);

    for (std::size_t i = 0; i < CamposCep.size(); ++i) {
        const QString& valor = tabela.FieldByName(QString::fromLatin1(CamposCep[i]));
        if (Alvos.Campos[i]) Alvos.Campos[i](valor);
    }
    return TResultadoCep::rcPreenchido;
}

TResultadoCep ConsultarCEPAoSair(const QString& cep, TDMDados& Dados, const TAlvosCep& Alvos) {
    if (SomenteNumero(cep).isEmpty()) return Avisar(Alvos, TResultadoCep::rcObrigatorio);
    return ConsultarCEP(cep, Dados, Alvos);
}

// ---- TBloqueioEntrada ----

TBloqueioEntrada::TBloqueioEntrada() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app) return;
    FFiltro = std::make_unique<InputFilter>();
    app->installEventFilter(FFiltro.get());
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    FCursor = true;
}

TBloqueioEntrada::~TBloqueioEntrada() {
    if (FCursor) QGuiApplication::restoreOverrideCursor();
    // Destroying the filter object removes it from the application's filter list.
}

}  // namespace tandrel::app

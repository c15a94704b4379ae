#include "app/CepLookup.h"

#include "app/DMDados.h"

#include <QEvent>
#include <QCursor>
#include <QGuiApplication>

namespace tandrel::app {

namespace {

// Swallows the operator's input for the whole application while a lookup runs.
class InputFilter : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override
    {
        switch (event->type()) {
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
        case QEvent::InputMethod:
            return true;
        default:
            return false;
        }
    }
};

bool EhVerdadeiro(const QString* valor)
{
    // The table keeps JSON true as the text "true", so both spellings meet here.
    return valor && *valor == QLatin1String("true");
}

TResultadoCep Avisar(const TAlvosCep& alvos, TResultadoCep resultado)
{
    if (alvos.Mensagem)
        alvos.Mensagem(MensagemCep(resultado));
    return resultado;
}

} // namespace

QString SomenteNumero(const QString& str)
{
    QString digitos;
    for (const QChar c : str)
        if (c >= u'0' && c <= u'9')
            digitos += c;
    return digitos;
}

QString MensagemCep(TResultadoCep resultado)
{
    switch (resultado) {
    case TResultadoCep::rcPreenchido:
        return {};
    case TResultadoCep::rcCepInvalido:
        return QStringLiteral("CEP inválido");
    case TResultadoCep::rcErroConsulta:
        return QStringLiteral("Erro ao consultar CEP");
    case TResultadoCep::rcNaoEncontrado:
        return QStringLiteral("CEP não encontrado");
    case TResultadoCep::rcObrigatorio:
        return QStringLiteral("PREENCHIMENTO OBRIGATORIO");
    }
    return {};
}

TResultadoCep ConsultarCEP(const QString& cep, TDMDados& dados, const TAlvosCep& alvos)
{
    const QString digitos = SomenteNumero(cep);
    if (digitos.size() != 8)
        return Avisar(alvos, TResultadoCep::rcCepInvalido);

    dados.RESTRequest1().SetResource(digitos + QStringLiteral("/json"));
    {
        TBloqueioEntrada bloqueio;
        dados.RESTRequest1().Execute();
    }

    if (dados.RESTResponse1().StatusCode() != 200)
        return Avisar(alvos, TResultadoCep::rcErroConsulta);
    const TJsonTable& tabela = dados.MemTable();
    if (EhVerdadeiro(tabela.FindField(QStringLiteral("erro"))))
        return Avisar(alvos, TResultadoCep::rcNaoEncontrado);

    for (std::size_t i = 0; i < CamposCep.size(); ++i) {
        const QString& valor = tabela.FieldByName(QString::fromLatin1(CamposCep[i]));
        if (alvos.Campos[i])
            alvos.Campos[i](valor);
    }
    return TResultadoCep::rcPreenchido;
}

TResultadoCep ConsultarCEPAoSair(const QString& cep, TDMDados& dados, const TAlvosCep& alvos)
{
    if (SomenteNumero(cep).isEmpty())
        return Avisar(alvos, TResultadoCep::rcObrigatorio);
    return ConsultarCEP(cep, dados, alvos);
}

// ---- TBloqueioEntrada ----

TBloqueioEntrada::TBloqueioEntrada()
{
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app)
        return;
    FFiltro = std::make_unique<InputFilter>();
    app->installEventFilter(FFiltro.get());
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    FCursor = true;
}

TBloqueioEntrada::~TBloqueioEntrada()
{
    if (FCursor)
        QGuiApplication::restoreOverrideCursor();
    // Destroying the filter object removes it from the application's filter list.
}

} // namespace tandrel::app

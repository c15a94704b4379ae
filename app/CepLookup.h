#pragma once

// The address lookup by postal code behind the CEP box and its lookup button: checks the
// code, asks the service through TDMDados and hands the five address texts to the window.

#include <QString>

#include <array>
#include <functional>
#include <memory>

class QObject;

namespace tandrel::app {

class TDMDados;

/// The characters of `str` that are the decimal digits "0" to "9", in their order.
QString SomenteNumero(const QString& str);

/// How a lookup ended. Every value but rcPreenchido showed its message, and the window then
/// puts the focus back into the CEP box.
enum class TResultadoCep {
    rcPreenchido,     ///< the five boxes were filled
    rcCepInvalido,    ///< "CEP inválido": not exactly 8 digits, nothing sent
    rcErroConsulta,   ///< "Erro ao consultar CEP": the service answered a status other than 200
    rcNaoEncontrado,  ///< "CEP não encontrado": the service does not know the code
    rcObrigatorio,    ///< "PREENCHIMENTO OBRIGATORIO": the box left without any digit
};

/// The message shown for a result (empty for rcPreenchido).
QString MensagemCep(TResultadoCep Resultado);

/// The answer's members read into the boxes, in the order they are filled: street,
/// complement, district, city, state.
inline constexpr std::array<const char*, 5> CamposCep{"logradouro", "complemento", "bairro", "localidade",
                                                      "uf"};

/// Where a lookup puts what it finds.
struct TAlvosCep {
    /// Shows one message to the operator (modal; returns when it was acknowledged).
    std::function<void(const QString&)> Mensagem;
    /// Receive the texts of the members of CamposCep, same order. An unset one is skipped.
    std::array<std::function<void(const QString&)>, 5> Campos;
};

/// Looks up the postal code typed as `cep` and fills the targets. The code is "not found" when
/// the answer's object has a member "erro" that is true or the text "true"; any other 200
/// answer fills the five targets in order. Throws std::runtime_error (through TDMDados) when
/// no answer comes or the body is not JSON (no target touched), and
/// "MemTable: Field '<member>' not found" when a member is missing (earlier targets filled).
/// While the request runs the application takes no input and shows a busy cursor.
TResultadoCep ConsultarCEP(const QString& cep, TDMDados& Dados, const TAlvosCep& Alvos);

/// What leaving the CEP box does: without any digit "PREENCHIMENTO OBRIGATORIO", else
/// ConsultarCEP of the text (same errors).
TResultadoCep ConsultarCEPAoSair(const QString& cep, TDMDados& Dados, const TAlvosCep& Alvos);

/// While alive: the application shows the wait cursor and drops every key, mouse button,
/// wheel and touch event, but keeps painting and running timers and network. Restores both
/// when destroyed. Does nothing without a Qt GUI application.
class TBloqueioEntrada {
public:
    TBloqueioEntrada();
    ~TBloqueioEntrada();
    TBloqueioEntrada(const TBloqueioEntrada&) = delete;
    TBloqueioEntrada& operator=(const TBloqueioEntrada&) = delete;

private:
    std::unique_ptr<QObject> FFiltro;
    bool FCursor = false;
};

}  // namespace tandrel::app

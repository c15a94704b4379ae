#pragma once

// The customer's XML file: its name from counter and date, the first free counter in a
// folder, and the document itself, written without ever replacing an existing file.

#include <QByteArray>
#include <QString>

class QDate;

namespace tandrel::app {

/// The thirteen texts of the registration page, whole, as the boxes show them.
struct TCustomerXmlData {
    QString Nome;
    QString Identidade;
    QString CPF;
    QString Telefone;
    QString Email;
    QString CEP;
    QString Logradouro;
    QString Numero;
    QString Complemento;
    QString Bairro;
    QString Cidade;
    QString Estado;
    QString Pais;
};

/// The date part of the file names: "ddmmyyyy".
QString data_arq_xml(const QDate& Data);

/// The file name `vnome_arq`: "Cliente_" + counter with at least three digits, zero-padded,
/// + "_" + `DataArq` + ".xml" (Cliente_007_09122026.xml).
QString nome_arq_xml(int Contador, const QString& DataArq);

/// The first counter from `Contador` on whose file name does not exist in `Pasta` (the folder
/// text as typed, the name appended directly). A missing folder gives `Contador` itself.
/// Throws std::runtime_error when no counter up to the largest 32-bit value is free.
int proximo_contador_livre(const QString& Pasta, int Contador, const QString& DataArq);

/// The document: declaration with version 1.0 and encoding UTF-8, then Cliente / Informações
/// / (Nome, Identidade, CPF, Telefone, Email, Endereço / (CEP, LOGRADOURO, NUMERO,
/// COMPLEMENTO, BAIRRO, CIDADE, ESTADO, PAIS)), no whitespace between elements, texts escaped.
/// Characters XML 1.0 cannot carry at all (control characters other than tab, line feed and
/// carriage return, unpaired surrogates, U+FFFE, U+FFFF) are dropped so the file stays readable.
QByteArray montar_xml(const TCustomerXmlData& Dados);

/// Writes the document to `Caminho`, which must not exist yet: an existing file is never
/// replaced, even when it appears between the caller's check and this write. Throws
/// std::runtime_error naming the file and the system's reason when it cannot be created or
/// written (a partly written file is removed again).
void gravar_arquivo_xml(const TCustomerXmlData& Dados, const QString& Caminho);

}  // namespace tandrel::app

#include "app/CustomerXml.h"

#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamWriter>

#include <cstddef>
#include <limits>
#include <stdexcept>

namespace tandrel::app {

namespace {

bool IsXmlChar(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF)
        || (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

QString XmlText(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const char32_t c : text.toUcs4())
        if (IsXmlChar(c))
            out += QString::fromUcs4(&c, 1);
    return out;
}

struct Leaf {
    const char* name;
    QString TCustomerXmlData::*text;
};

// The leaves in document order: the person under "Informações", the address under "Endereço".
constexpr Leaf kPessoa[] = {
    {"Nome", &TCustomerXmlData::Nome},
    {"Identidade", &TCustomerXmlData::Identidade},
    {"CPF", &TCustomerXmlData::CPF},
    {"Telefone", &TCustomerXmlData::Telefone},
    {"Email", &TCustomerXmlData::Email},
};
constexpr Leaf kEndereco[] = {
    {"CEP", &TCustomerXmlData::CEP},
    {"LOGRADOURO", &TCustomerXmlData::Logradouro},
    {"NUMERO", &TCustomerXmlData::Numero},
    {"COMPLEMENTO", &TCustomerXmlData::Complemento},
    {"BAIRRO", &TCustomerXmlData::Bairro},
    {"CIDADE", &TCustomerXmlData::Cidade},
    {"ESTADO", &TCustomerXmlData::Estado},
    {"PAIS", &TCustomerXmlData::Pais},
};

template <std::size_t N>
void WriteLeaves(QXmlStreamWriter& xml, const Leaf (&leaves)[N], const TCustomerXmlData& dados)
{
    for (const Leaf& leaf : leaves)
        xml.writeTextElement(QString::fromUtf8(leaf.name), XmlText(dados.*leaf.text));
}

bool Occupied(const QString& path)
{
    // A dangling link counts too: creating the file through it would fail all the same.
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

std::runtime_error CannotCreate(const QString& path, const QString& reason)
{
    return std::runtime_error(
        QStringLiteral("Cannot create file \"%1\". %2").arg(path, reason).toStdString());
}

} // namespace

QString data_arq_xml(const QDate& data)
{
    return data.toString(QStringLiteral("ddMMyyyy"));
}

QString nome_arq_xml(int contador, const QString& dataArq)
{
    return QStringLiteral("Cliente_%1_%2.xml").arg(contador, 3, 10, QLatin1Char('0')).arg(dataArq);
}

int proximo_contador_livre(const QString& pasta, int contador, const QString& dataArq)
{
    while (Occupied(pasta + nome_arq_xml(contador, dataArq))) {
        if (contador == std::numeric_limits<int>::max())
            throw std::runtime_error("No free customer number is left for the XML file");
        ++contador;
    }
    return contador;
}

QByteArray montar_xml(const TCustomerXmlData& dados)
{
    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setAutoFormatting(false);
    xml.writeStartDocument(QStringLiteral("1.0"));
    xml.writeStartElement(QStringLiteral("Cliente"));
    xml.writeStartElement(QStringLiteral("Informações"));
    WriteLeaves(xml, kPessoa, dados);
    xml.writeStartElement(QStringLiteral("Endereço"));
    WriteLeaves(xml, kEndereco, dados);
    xml.writeEndDocument(); // closes Endereço, Informações and Cliente
    return bytes;
}

void gravar_arquivo_xml(const TCustomerXmlData& dados, const QString& caminho)
{
    const QByteArray bytes = montar_xml(dados);
    QFile file(caminho);
    // NewOnly: the system refuses to open a file that exists, so no earlier customer's file
    // can be replaced, even by another instance writing at the same moment.
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        throw CannotCreate(caminho, file.errorString());
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        const QString reason = file.errorString();
        file.close();
        file.remove(); // our own half-written file: leave nothing that looks like a record
        throw CannotCreate(caminho, reason);
    }
    file.close();
    if (file.error() != QFileDevice::NoError) {
        const QString reason = file.errorString();
        file.remove();
        throw CannotCreate(caminho, reason);
    }
}

} // namespace tandrel::app

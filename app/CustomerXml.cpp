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

bool IsXmlChar(char32_t C) {
    return C == 0x9 || C == 0xA || C == 0xD || (C >= 0x20 && C <= 0xD7FF) || (C >= 0xE000 && C <= 0xFFFD) ||
           (C >= 0x10000 && C <= 0x10FFFF);
}

QString XmlText(const QString& Text) {
    QString out;
    out.reserve(Text.size());
    for (const char32_t c : Text.toUcs4())
        if (IsXmlChar(c)) out += QString::fromUcs4(&c, 1);
    return out;
}

struct Leaf {
    const char* name;
    QString TCustomerXmlData::*text;
};

// The leaves in document order: the person under "Informações", the address under "Endereço".
constexpr Leaf kPessoa[] = {
    {"Nome", &TCustomerXmlData::Nome},   {"Identidade", &TCustomerXmlData::Identidade},
    {"CPF", &TCustomerXmlData::CPF},     {"Telefone", &TCustomerXmlData::Telefone},
    {"Email", &TCustomerXmlData::Email},
};
constexpr Leaf kEndereco[] = {
    {"CEP", &TCustomerXmlData::CEP},       {"LOGRADOURO", &TCustomerXmlData::Logradouro},
    {"NUMERO", &TCustomerXmlData::Numero}, {"COMPLEMENTO", &TCustomerXmlData::Complemento},
    {"BAIRRO", &TCustomerXmlData::Bairro}, {"CIDADE", &TCustomerXmlData::Cidade},
    {"ESTADO", &TCustomerXmlData::Estado}, {"PAIS", &TCustomerXmlData::Pais},
};

template <std::size_t N>
void WriteLeaves(QXmlStreamWriter& Xml, const Leaf (&Leaves)[N], const TCustomerXmlData& Dados) {
    for (const Leaf& leaf : Leaves)
        Xml.writeTextElement(QString::fromUtf8(leaf.name), XmlText(Dados.*leaf.text));
}

bool Occupied(const QString& Path) {
    // A dangling link counts too: creating the file through it would fail all the same.
    const QFileInfo info(Path);
    return info.exists() || info.isSymLink();
}

std::runtime_error CannotCreate(const QString& Path, const QString& Reason) {
    return std::runtime_error(
        QStringLiteral("Cannot create file \"%1\". %2").arg(Path, Reason).toStdString());
}

}  // namespace

QString data_arq_xml(const QDate& Data) { return Data.toString(QStringLiteral("ddMMyyyy")); }

QString nome_arq_xml(int Contador, const QString& DataArq) {
    return QStringLiteral("Cliente_%1_%2.xml").arg(Contador, 3, 10, QLatin1Char('0')).arg(DataArq);
}

int proximo_contador_livre(const QString& Pasta, int Contador, const QString& DataArq) {
    while (Occupied(Pasta + nome_arq_xml(Contador, DataArq))) {
        if (Contador == std::numeric_limits<int>::max())
            throw std::runtime_error("No free customer number is left for the XML file");
        ++Contador;
    }
    return Contador;
}

QByteArray montar_xml(const TCustomerXmlData& Dados) {
    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setAutoFormatting(false);
    xml.writeStartDocument(QStringLiteral("1.0"));
    xml.writeStartElement(QStringLiteral("Cliente"));
    xml.writeStartElement(QStringLiteral("Informações"));
    WriteLeaves(xml, kPessoa, Dados);
    xml.writeStartElement(QStringLiteral("Endereço"));
    WriteLeaves(xml, kEndereco, Dados);
    xml.writeEndDocument();  // closes Endereço, Informações and Cliente
    return bytes;
}

void gravar_arquivo_xml(const TCustomerXmlData& Dados, const QString& Caminho) {
    const QByteArray bytes = montar_xml(Dados);
    QFile file(Caminho);
    // NewOnly: the system refuses to open a file that exists, so no earlier customer's file
    // can be replaced, even by another instance writing at the same moment.
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        throw CannotCreate(Caminho, file.errorString());
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        const QString reason = file.errorString();
        file.close();
        file.remove();  // our own half-written file: leave nothing that looks like a record
        throw CannotCreate(Caminho, reason);
    }
    file.close();
    if (file.error() != QFileDevice::NoError) {
        const QString reason = file.errorString();
        file.remove();
        throw CannotCreate(Caminho, reason);
    }
}

}  // namespace tandrel::app

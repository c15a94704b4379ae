// The customer's XML file: names, the free-number rule, and the document as an independent
// parser (Python's xml.etree) reads it back.

#include "app/CustomerXml.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <stdexcept>

using namespace tandrel::app;

Q_DECLARE_METATYPE(tandrel::app::TCustomerXmlData)

namespace {

// Prints every element as [depth, tag, text, tail], depth 1 at the root.
const char* kReader = R"(
import json, sys, xml.etree.ElementTree as ET
out = []
def walk(e, depth):
    out.append([depth, e.tag, e.text or "", e.tail or ""])
    for child in e:
        walk(child, depth + 1)
walk(ET.parse(sys.argv[1]).getroot(), 1)
print(json.dumps(out))
)";

const QString kDate = QStringLiteral("09122026");

TCustomerXmlData Customer(const QString& Nome) {
    return {Nome,
            "123456789",
            "12345678901",
            "1133334444",
            "joao@example.com",
            "01001000",
            QStringLiteral("PRAÇA DA SÉ"),
            "100",
            QStringLiteral("LADO ÍMPAR"),
            QStringLiteral("SÉ"),
            QStringLiteral("SÃO PAULO"),
            "SP",
            "BRASIL"};
}

QStringList Leaves(const TCustomerXmlData& D) {
    return {D.Nome,   D.Identidade,  D.CPF,    D.Telefone, D.Email,  D.CEP, D.Logradouro,
            D.Numero, D.Complemento, D.Bairro, D.Cidade,   D.Estado, D.Pais};
}

QByteArray ReadFile(const QString& Path) {
    QFile f(Path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void WriteFile(const QString& Path, const QByteArray& Bytes) {
    QFile f(Path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(Bytes), Bytes.size());
}

QString ErrorOf(const TCustomerXmlData& D, const QString& Path) {
    try {
        gravar_arquivo_xml(D, Path);
    } catch (const std::runtime_error& e) {
        return QString::fromUtf8(e.what());
    }
    return {};
}

}  // namespace

class TstCustomerXml : public QObject {
    Q_OBJECT

private slots:
    void FileName_data() {
        QTest::addColumn<int>("contador");
        QTest::addColumn<QString>("name");
        QTest::newRow("1") << 1 << "Cliente_001_09122026.xml";
        QTest::newRow("7") << 7 << "Cliente_007_09122026.xml";
        QTest::newRow("12") << 12 << "Cliente_012_09122026.xml";
        QTest::newRow("123") << 123 << "Cliente_123_09122026.xml";
        QTest::newRow("1000") << 1000 << "Cliente_1000_09122026.xml";
    }
    void FileName() {
        QFETCH(int, contador);
        QFETCH(QString, name);
        QCOMPARE(nome_arq_xml(contador, kDate), name);
    }

    void DatePart_data() {
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QString>("text");
        QTest::newRow("day and month padded") << QDate(2026, 12, 9) << "09122026";
        QTest::newRow("two-digit day") << QDate(2027, 1, 31) << "31012027";
    }
    void DatePart() {
        QFETCH(QDate, date);
        QFETCH(QString, text);
        QCOMPARE(data_arq_xml(date), text);
    }

    // The document as another parser reads it: names, order, depths, texts whole, nothing between.
    void ReadBack_data() {
        QTest::addColumn<TCustomerXmlData>("data");
        QTest::addColumn<QStringList>("texts");
        const TCustomerXmlData plain = Customer(QStringLiteral("JOÃO DA SILVA"));
        QTest::newRow("accents") << plain << Leaves(plain);

        TCustomerXmlData reserved = Customer(QStringLiteral("A & B <C> \"D\" 'E'"));
        reserved.Complemento = QStringLiteral("FUNDOS & <LOJA 2>");
        reserved.Logradouro = QStringLiteral("]]> RUA");
        QTest::newRow("reserved characters") << reserved << Leaves(reserved);

        const TCustomerXmlData longName =
            Customer(QStringLiteral("MARIA APARECIDA DOS SANTOS OLIVEIRA PEREIRA DA CONCEIÇÃO LUZ"));
        QCOMPARE(longName.Nome.size(), 60);
        QTest::newRow("60-character name whole") << longName << Leaves(longName);

        const TCustomerXmlData empty{};
        QTest::newRow("all empty") << empty << Leaves(empty);

        TCustomerXmlData blanks = Customer(QStringLiteral("  "));
        blanks.Complemento = QStringLiteral(" A\tB ");
        QTest::newRow("blanks and tab kept") << blanks << Leaves(blanks);

        TCustomerXmlData control = Customer(QStringLiteral("ANA\x01\x1F BELA"));
        QStringList controlTexts = Leaves(control);
        controlTexts[0] = QStringLiteral("ANA BELA");
        QTest::newRow("characters XML cannot hold dropped") << control << controlTexts;

        TCustomerXmlData astral = Customer(QStringLiteral("ZOË 😀"));
        QTest::newRow("beyond the basic plane") << astral << Leaves(astral);
    }
    void ReadBack() {
        QFETCH(TCustomerXmlData, data);
        QFETCH(QStringList, texts);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(nome_arq_xml(1, kDate));
        gravar_arquivo_xml(data, path);

        QProcess python;
        python.start(QStringLiteral(TANDREL_PYTHON),
                     {QStringLiteral("-c"), QString::fromLatin1(kReader), path});
        QVERIFY(python.waitForFinished(30000));
        QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
        const QJsonArray elements = QJsonDocument::fromJson(python.readAllStandardOutput()).array();

        const QList<QPair<int, QString>> tree{{1, "Cliente"}, {2, QStringLiteral("Informações")},
                                              {3, "Nome"},    {3, "Identidade"},
                                              {3, "CPF"},     {3, "Telefone"},
                                              {3, "Email"},   {3, QStringLiteral("Endereço")},
                                              {4, "CEP"},     {4, "LOGRADOURO"},
                                              {4, "NUMERO"},  {4, "COMPLEMENTO"},
                                              {4, "BAIRRO"},  {4, "CIDADE"},
                                              {4, "ESTADO"},  {4, "PAIS"}};
        QCOMPARE(elements.size(), tree.size());
        int leaf = 0;
        for (qsizetype i = 0; i < tree.size(); ++i) {
            const QJsonArray e = elements.at(i).toArray();
            QCOMPARE(e.at(0).toInt(), tree[i].first);
            QCOMPARE(e.at(1).toString(), tree[i].second);
            QCOMPARE(e.at(3).toString(), QString());  // nothing after any element
            const bool isLeaf = tree[i].second != "Cliente" &&
                                tree[i].second != QStringLiteral("Informações") &&
                                tree[i].second != QStringLiteral("Endereço");
            QCOMPARE(e.at(2).toString(), isLeaf ? texts.at(leaf++) : QString());
        }
    }

    // What the parser does not show: the declaration, the UTF-8 bytes, the escapes, no line breaks.
    void Bytes() {
        TCustomerXmlData d = Customer(QStringLiteral("JOÃO"));
        d.Complemento = QStringLiteral("A & B < C");
        d.Bairro.clear();
        const QByteArray bytes = montar_xml(d);
        QVERIFY2(
            bytes.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?><Cliente><Informa\xC3\xA7\xC3\xB5"
                             "es><Nome>JO\xC3\x83O</Nome>"),
            bytes.constData());
        QVERIFY(bytes.contains("<COMPLEMENTO>A &amp; B &lt; C</COMPLEMENTO>"));
        QVERIFY(bytes.contains("<Endere\xC3\xA7o><CEP>"));
        QVERIFY(!bytes.contains("standalone"));
        QVERIFY(!bytes.trimmed().contains('\n'));
        QVERIFY(!QString::fromUtf8(bytes).contains(QRegularExpression(QStringLiteral(">\\s+<"))));
        QVERIFY(
            bytes.trimmed().endsWith("</PAIS></Endere\xC3\xA7o></Informa\xC3\xA7\xC3\xB5"
                                     "es></Cliente>"));
        QCOMPARE(bytes, montar_xml(d));  // the same data always gives the same bytes
    }

    void SaveErrors_data() {
        QTest::addColumn<QString>("subPath");  // below a fresh temporary folder
        QTest::addColumn<QString>("reason");
        QTest::newRow("folder missing") << "missing/Cliente_001_09122026.xml"
                                        << "No such file or directory";
        QTest::newRow("folder is a file") << "afile/Cliente_001_09122026.xml"
                                          << "Not a directory";
        QTest::newRow("file exists") << "Cliente_001_09122026.xml"
                                     << "File exists";
    }
    void SaveErrors() {
        QFETCH(QString, subPath);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        WriteFile(dir.filePath("afile"), "a file");
        WriteFile(dir.filePath("Cliente_001_09122026.xml"), "earlier customer");
        const QString path = dir.filePath(subPath);
        QCOMPARE(ErrorOf(Customer("ANA"), path),
                 QStringLiteral("Cannot create file \"%1\". %2").arg(path, reason));
        QCOMPARE(ReadFile(dir.filePath("Cliente_001_09122026.xml")), QByteArray("earlier customer"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2);
    }

    void NextFree_data() {
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("folder");  // relative to the temporary folder, as typed
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("free");
        const QStringList none;
        QTest::newRow("empty folder") << none << "/" << 1 << 1;
        QTest::newRow("taken run") << QStringList{"Cliente_001_09122026.xml", "Cliente_002_09122026.xml"}
                                   << "/" << 1 << 3;
        QTest::newRow("gap used") << QStringList{"Cliente_001_09122026.xml", "Cliente_003_09122026.xml"}
                                  << "/" << 1 << 2;
        QTest::newRow("start beyond") << QStringList{"Cliente_001_09122026.xml"} << "/" << 5 << 5;
        QTest::newRow("other date ignored") << QStringList{"Cliente_001_08122026.xml"} << "/" << 1 << 1;
        QTest::newRow("past 999") << QStringList{"Cliente_999_09122026.xml"} << "/" << 999 << 1000;
        QTest::newRow("missing folder") << none << "/nope/" << 4 << 4;
        QTest::newRow("folder text without separator")
            << QStringList{"xmlCliente_001_09122026.xml"} << "/xml" << 1 << 2;
    }
    void NextFree() {
        QFETCH(QStringList, existing);
        QFETCH(QString, folder);
        QFETCH(int, from);
        QFETCH(int, free);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        for (const QString& name : existing) WriteFile(dir.filePath(name), "x");
        QCOMPARE(proximo_contador_livre(dir.path() + folder, from, kDate), free);
    }

    void DanglingLinkCountsAsTaken() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(QFile::link(dir.filePath("nowhere"), dir.filePath("Cliente_001_09122026.xml")));
        QCOMPARE(proximo_contador_livre(dir.path() + "/", 1, kDate), 2);
    }

    // Two runs of the program on one day over one folder, and an inclusion under a search that
    // shows nothing (the counter falls back to 1): every earlier file stays as it was.
    void RunsNeverReplaceFiles() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString folder = dir.path() + "/";
        QStringList written;
        const auto include = [&](int CounterAfterIdRule, const QString& Nome) {
            const int id = proximo_contador_livre(folder, CounterAfterIdRule, kDate);
            const QString name = nome_arq_xml(id, kDate);
            gravar_arquivo_xml(Customer(Nome), folder + name);
            written << name;
            return id;
        };
        // First run: the counter starts at 1 and goes up.
        QCOMPARE(include(1, "ANA"), 1);
        QCOMPARE(include(2, "BRUNO"), 2);
        // Second run, same day: the counter starts at 1 again.
        QCOMPARE(include(1, "CARLA"), 3);
        QCOMPARE(include(4, "DANIEL"), 4);
        // A search that matches nothing: the id rule gives 1.
        QCOMPARE(include(1, "EVA"), 5);

        QCOMPARE(QDir(folder).entryList(QDir::Files, QDir::Name), written);
        const QStringList names{"ANA", "BRUNO", "CARLA", "DANIEL", "EVA"};
        for (qsizetype i = 0; i < written.size(); ++i)
            QVERIFY(ReadFile(folder + written[i]).contains("<Nome>" + names[i].toUtf8() + "</Nome>"));
    }
};

QTEST_MAIN(TstCustomerXml)
#include "tst_customerxml.moc"

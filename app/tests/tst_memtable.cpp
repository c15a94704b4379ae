// The in-memory customer table: field sizes and the code page, fields by name, the
// current record through insert, edit, post and delete, and the "like" filter.
#include "app/Frm_cadastro.h"
#include "app/MemTable.h"

#include <QTest>

#include <stdexcept>

using namespace tandrel::app;

namespace {

// Appends a customer with `Name` and `Id`; returns nothing, the table keeps it current.
void Add(TMemTable& Table, const std::string& Name, int Id) {
    Table.Insert();
    Table.FieldByName("id_cliente").SetAsInteger(Id);
    Table.FieldByName("Nome").SetAsString(Name);
    Table.Post();
}

std::string ErrorOf(const std::function<void()>& Action) {
    try {
        Action();
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}

}  // namespace

class TstMemTable : public QObject {
    Q_OBJECT

private slots:
    void like_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("matches");

        QTest::newRow("prefix") << "JOÃO"
                                << "JO%" << true;
        QTest::newRow("prefix with accents") << "JOSÉ"
                                             << "JO%" << true;
        QTest::newRow("inside is no prefix") << "MARIA JOANA"
                                             << "JO%" << false;
        QTest::newRow("case counts") << "joão"
                                     << "JO%" << false;
        QTest::newRow("whole text must match") << "JOÃO"
                                               << "JO" << false;
        QTest::newRow("exact") << "JO"
                               << "JO" << true;
        QTest::newRow("underscore is one character") << "ANA"
                                                     << "A_A" << true;
        QTest::newRow("underscore is not none") << "AA"
                                                << "A_A" << false;
        QTest::newRow("underscore takes an accented letter") << "JOÃO"
                                                             << "JO_O" << true;
        QTest::newRow("percent in the middle") << "MARIA JOANA"
                                               << "%JO%" << true;
        QTest::newRow("percent matches none") << "JO"
                                              << "JO%%" << true;
        QTest::newRow("apostrophe") << "D'AVILA"
                                    << "D'A%" << true;
        QTest::newRow("empty text, percent alone") << ""
                                                   << "%" << true;
        QTest::newRow("empty text, other pattern") << ""
                                                   << "%%" << false;
        QTest::newRow("empty text, empty pattern") << ""
                                                   << "" << false;
        QTest::newRow("backtracking") << "ABABABAC"
                                      << "%ABAC" << true;
    }

    void like() {
        QFETCH(QString, text);
        QFETCH(QString, pattern);
        // The table compares code-page bytes: one byte per accented letter.
        const auto ansi = [](const QString& S) { return std::string(S.toLatin1().constData()); };
        QTEST(MatchesLike(ansi(text), ansi(pattern)), "matches");
    }

    void searchFilterDoublesQuotes_data() {
        QTest::addColumn<QString>("search");
        QTest::addColumn<QString>("filter");
        QTest::newRow("plain") << "JO"
                               << "Nome like 'JO%'";
        QTest::newRow("empty") << ""
                               << "Nome like '%'";
        QTest::newRow("apostrophe") << "D'AVILA"
                                    << "Nome like 'D''AVILA%'";
        QTest::newRow("two quotes") << "''"
                                    << "Nome like '''''%'";
    }

    void searchFilterDoublesQuotes() {
        QFETCH(QString, search);
        QTEST(QString::fromStdString(NameSearchFilter(search.toStdString())), "filter");
    }

    void filterSelectsTheView_data() {
        QTest::addColumn<QString>("search");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("JO") << "JO" << QStringList{"JOÃO", "JOSÉ"};
        QTest::newRow("D'AVILA") << "D'AVILA" << QStringList{"D'AVILA SOUZA"};
        QTest::newRow("empty shows all, the nameless too")
            << "" << QStringList{"JOÃO", "MARIA JOANA", "JOSÉ", "D'AVILA SOUZA", ""};
        QTest::newRow("nothing") << "X" << QStringList{};
        QTest::newRow("wildcards typed") << "_O%" << QStringList{"JOÃO", "JOSÉ"};
    }

    void filterSelectsTheView() {
        QFETCH(QString, search);
        QFETCH(QStringList, shown);
        TMemTable table("MTClientes", ClienteFieldDefs());
        table.Open();
        int id = 0;
        for (const char* name : {"JOÃO", "MARIA JOANA", "JOSÉ", "D'AVILA SOUZA", ""}) Add(table, name, ++id);
        table.SetFilter(NameSearchFilter(search.toStdString()));
        table.SetFiltered(true);
        QStringList names;
        for (int row = 0; row < table.RecordCount(); ++row)
            names << QString::fromStdString(table.DisplayValue(row, 0));
        QCOMPARE(names, shown);
        table.SetFiltered(false);
        QCOMPARE(table.RecordCount(), 5);
    }

    void fieldsAreCutInCodePageBytes_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("stored");
        const QString sixty = QString(60, QLatin1Char('A'));
        QTest::newRow("name of 60 keeps 50") << "Nome" << sixty << sixty.left(50);
        QTest::newRow("accented letters are one byte")
            << "Nome" << QString(60, QChar(0xC3)) << QString(50, QChar(0xC3));
        QTest::newRow("state of three keeps two") << "uf"
                                                  << "SPX"
                                                  << "SP";
        QTest::newRow("number of five keeps four") << "numero"
                                                   << "12345"
                                                   << "1234";
        QTest::newRow("outside the code page") << "Nome" << QString::fromUtf8("Ж ok") << "? ok";
        QTest::newRow("euro sign survives") << "Nome" << QString::fromUtf8("€") << QString::fromUtf8("€");
        QTest::newRow("empty") << "cpf"
                               << ""
                               << "";
    }

    void fieldsAreCutInCodePageBytes() {
        QFETCH(QString, field);
        QFETCH(QString, value);
        TMemTable table("MTClientes", ClienteFieldDefs());
        table.Open();
        table.Insert();
        table.FieldByName(field.toStdString()).SetAsString(value.toStdString());
        table.Post();
        QTEST(QString::fromStdString(table.FieldByName(field.toStdString()).AsString()), "stored");
    }

    void fieldsAreFoundWithoutCase() {
        TMemTable table("MTClientes", ClienteFieldDefs());
        table.Open();
        table.Insert();
        table.FieldByName("CPF").SetAsString("12345678901");
        table.Post();
        for (const char* name : {"cpf", "Cpf", "CPF"})
            QCOMPARE(table.FieldByName(name).AsString(), std::string("12345678901"));
        QCOMPARE(ErrorOf([&] { table.FieldByName("rg"); }), std::string("MTClientes: Field 'rg' not found"));
    }

    void deleteMovesToTheNextThenThePrevious() {
        TMemTable table("MTClientes", ClienteFieldDefs());
        table.Open();
        for (int id = 1; id <= 3; ++id) Add(table, std::string("C").append(std::to_string(id)), id);
        table.SetRecNo(1);
        table.Delete();
        QCOMPARE(table.FieldByName("id_cliente").AsInteger(), 3);  // the next one
        table.Delete();
        QCOMPARE(table.FieldByName("id_cliente").AsInteger(), 1);  // the previous one, at the end
        table.Delete();
        QCOMPARE(table.RecordCount(), 0);
        QCOMPARE(ErrorOf([&] { table.Delete(); }),
                 std::string("MTClientes: Cannot perform this operation on an empty dataset"));
        QVERIFY(table.FieldByName("Nome").IsNull());
    }

    void deleteOnAnEmptyViewLeavesHiddenRecords() {
        TMemTable table("MTClientes", ClienteFieldDefs());
        table.Open();
        Add(table, "ANA", 1);
        table.SetFilter(NameSearchFilter("Z"));
        table.SetFiltered(true);
        QVERIFY(!ErrorOf([&] { table.Delete(); }).empty());
        table.SetFiltered(false);
        QCOMPARE(table.RecordCount(), 1);
    }

    void editOnAnEmptyViewInserts() {
        TMemTable table("MTClientes", ClienteFieldDefs());
        table.Open();
        table.Edit();
        QCOMPARE(table.State(), TDataSetState::dsInsert);
        table.FieldByName("Nome").SetAsString("SEM CODIGO");
        table.Post();
        QCOMPARE(table.RecordCount(), 1);
        QVERIFY(table.FieldByName("id_cliente").IsNull());
    }

    void editReplacesTheCurrentRecordOnly() {
        TMemTable table("MTClientes", ClienteFieldDefs());
        table.Open();
        Add(table, "ANA", 1);
        Add(table, "BIA", 2);
        table.SetRecNo(0);
        table.Edit();
        table.FieldByName("Nome").SetAsString("ANA MARIA");
        table.Post();
        QCOMPARE(table.RecNo(), 0);
        QCOMPARE(table.DisplayValue(0, 0), std::string("ANA MARIA"));
        QCOMPARE(table.DisplayValue(1, 0), std::string("BIA"));
        QCOMPARE(table.FieldByName("id_cliente").AsInteger(), 1);
    }

    void writesOutsideAnEditFail() {
        TMemTable table("MTClientes", ClienteFieldDefs());
        table.Open();
        Add(table, "ANA", 1);
        QCOMPARE(ErrorOf([&] { table.FieldByName("Nome").SetAsString("X"); }),
                 std::string("MTClientes: Dataset not in edit or insert mode"));
        QCOMPARE(ErrorOf([&] { table.Post(); }),
                 std::string("MTClientes: Dataset not in edit or insert mode"));
        QCOMPARE(table.DisplayValue(0, 0), std::string("ANA"));
    }

    void malformedFiltersAreRefused_data() {
        QTest::addColumn<QString>("filter");
        QTest::newRow("no like") << "Nome = 'A'";
        QTest::newRow("unclosed quote") << "Nome like 'A";
        QTest::newRow("lone quote inside") << "Nome like 'D'AVILA%'";
        QTest::newRow("unknown field") << "Rg like 'A%'";
    }

    void malformedFiltersAreRefused() {
        QFETCH(QString, filter);
        TMemTable table("MTClientes", ClienteFieldDefs());
        table.Open();
        table.SetFilter("Nome like 'A%'");
        QVERIFY(!ErrorOf([&] { table.SetFilter(filter.toStdString()); }).empty());
        QCOMPARE(table.Filter(), std::string("Nome like 'A%'"));
    }
};

QTEST_MAIN(TstMemTable)
#include "tst_memtable.moc"

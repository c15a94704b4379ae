// The postal-code lookup against a loopback stand-in of the service (cep_server.py).

#include "app/CepLookup.h"
#include "app/DMDados.h"
#include "app/tests/CepTestServer.h"

#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpServer>
#include <QTimer>
#include <QtTest>

#include <memory>
#include <stdexcept>

using namespace tandrel::app;

namespace {

const QStringList kSe{QStringLiteral("Praça da Sé"), QStringLiteral("lado ímpar"), QStringLiteral("Sé"),
                      QStringLiteral("São Paulo"), QStringLiteral("SP")};

// What a lookup handed to the window.
struct Recorded {
    QStringList messages;
    QStringList fields;

    TAlvosCep Targets() {
        TAlvosCep alvos;
        alvos.Mensagem = [this](const QString& M) { messages << M; };
        for (auto& campo : alvos.Campos) campo = [this](const QString& V) { fields << V; };
        return alvos;
    }
};

enum Caller { Button, Exit };

}  // namespace

class TstDMDados : public QObject {
    Q_OBJECT

    testing::TCepTestServer FServer;
    QString FRoot;  // http://127.0.0.1:<port>

    QString BaseURL() const { return FRoot + QStringLiteral("/ws/"); }

    QByteArray Fetch(const QString& Path) {
        QNetworkAccessManager manager;
        std::unique_ptr<QNetworkReply> reply(manager.get(QNetworkRequest(QUrl(FRoot + Path))));
        QEventLoop loop;
        connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        return reply->readAll();
    }

    QJsonObject LastRequest() { return QJsonDocument::fromJson(Fetch(QStringLiteral("/_last"))).object(); }

    static QString RefusingBaseURL() {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0)) return {};
        const quint16 port = probe.serverPort();
        probe.close();  // nothing listens there any more
        return QStringLiteral("http://127.0.0.1:%1/ws/").arg(port);
    }

private slots:
    void initTestCase() {
        QVERIFY2(FServer.Start(), "cannot start the stand-in server");
        FRoot = FServer.Root();
    }

    void SomenteNumero_data() {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("masked") << "01001-000"
                                << "01001000";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("no digit") << "abc-_ "
                                  << "";
        QTest::newRow("mask placeholders") << "01001-___"
                                           << "01001";
        QTest::newRow("other scripts' digits dropped") << QStringLiteral("1٢3４5") << "135";
    }
    void SomenteNumero() {
        QFETCH(QString, in);
        QFETCH(QString, out);
        QCOMPARE(tandrel::app::SomenteNumero(in), out);
    }

    void JoinURL_data() {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("resource");
        QTest::addColumn<QString>("url");
        QTest::newRow("base ends with slash") << "http://h/ws/"
                                              << "01001000/json"
                                              << "http://h/ws/01001000/json";
        QTest::newRow("slash added") << "http://h/ws"
                                     << "01001000/json"
                                     << "http://h/ws/01001000/json";
        QTest::newRow("leading slashes dropped") << "http://h/ws/"
                                                 << "//01001000/json"
                                                 << "http://h/ws/01001000/json";
        QTest::newRow("both without") << "http://h/ws"
                                      << "/x"
                                      << "http://h/ws/x";
    }
    void JoinURL() {
        QFETCH(QString, base);
        QFETCH(QString, resource);
        QFETCH(QString, url);
        QCOMPARE(tandrel::app::JoinURL(base, resource), url);
    }

    void CharsetOfContentType_data() {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QString>("charset");
        QTest::newRow("none") << QByteArray("application/json") << "";
        QTest::newRow("plain") << QByteArray("application/json; charset=utf-8") << "utf-8";
        QTest::newRow("quoted, spaced, upper")
            << QByteArray("text/plain ; CHARSET = \"ISO-8859-1\"") << "ISO-8859-1";
        QTest::newRow("after other parameter")
            << QByteArray("text/plain; format=flowed; charset=windows-1252") << "windows-1252";
    }
    void CharsetOfContentType() {
        QFETCH(QByteArray, contentType);
        QFETCH(QString, charset);
        QCOMPARE(tandrel::app::CharsetOfContentType(contentType), charset);
    }

    void DecodeBody_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("charset");
        QTest::addColumn<QString>("text");
        QTest::newRow("utf-8") << QByteArray("S\xC3\xA9") << "utf-8" << QStringLiteral("Sé");
        QTest::newRow("no charset is utf-8") << QByteArray("S\xC3\xA9") << "" << QStringLiteral("Sé");
        QTest::newRow("unknown charset is utf-8")
            << QByteArray("S\xC3\xA9") << "x-nothing" << QStringLiteral("Sé");
        QTest::newRow("latin-1") << QByteArray("S\xE9") << "ISO-8859-1" << QStringLiteral("Sé");
        QTest::newRow("windows-1252 euro")
            << QByteArray("\x80 S\xE9") << "windows-1252" << QStringLiteral("€ Sé");
        // Known to neither Qt nor ICU: the MIME library's own table.
        QTest::newRow("kamenicky, the MIME library's table")
            << QByteArray("\x80\x87") << "x-kamenicky" << QStringLiteral("Čč");
    }
    void DecodeBody() {
        QFETCH(QByteArray, body);
        QFETCH(QString, charset);
        QFETCH(QString, text);
        QCOMPARE(tandrel::app::DecodeBody(body, charset), text);
    }

    void MemTableFill_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value");
        QTest::newRow("string") << QByteArray(R"({"uf":"SP"})") << "uf"
                                << "SP";
        QTest::newRow("name without regard to case") << QByteArray(R"({"uf":"SP"})") << "UF"
                                                     << "SP";
        QTest::newRow("null is empty") << QByteArray(R"({"uf":null})") << "uf"
                                       << "";
        QTest::newRow("integer") << QByteArray(R"({"ibge":3550308})") << "ibge"
                                 << "3550308";
        QTest::newRow("fraction") << QByteArray(R"({"x":1.5})") << "x"
                                  << "1.5";
        QTest::newRow("true") << QByteArray(R"({"erro":true})") << "erro"
                              << "true";
        QTest::newRow("false") << QByteArray(R"({"erro":false})") << "erro"
                               << "false";
        QTest::newRow("object as JSON") << QByteArray(R"({"o":{"a":[1,"b"]}})") << "o"
                                        << R"({"a":[1,"b"]})";
        QTest::newRow("array as JSON") << QByteArray(R"({"a":[null,true]})") << "a"
                                       << "[null,true]";
        QTest::newRow("cut to 255") << ("{\"s\":\"" + QByteArray(300, 'x') + "\"}") << "s"
                                    << QString(255, u'x');
        QTest::newRow("255 kept whole")
            << ("{\"s\":\"" + QByteArray(255, 'y') + "\"}") << "s" << QString(255, u'y');
        QTest::newRow("no half surrogate at the cut")
            << ("{\"s\":\"" + QByteArray(254, 'z') + "\xF0\x9F\x98\x80\"}") << "s" << QString(254, u'z');
    }
    void MemTableFill() {
        QFETCH(QByteArray, json);
        QFETCH(QString, field);
        QFETCH(QString, value);
        TJsonTable table;
        table.Fill(QJsonDocument::fromJson(json).object());
        QCOMPARE(table.RecordCount(), 1);
        QCOMPARE(table.FieldByName(field), value);
    }

    void MemTableMissingFieldNamesTableAndField() {
        TJsonTable table;
        table.Fill(QJsonDocument::fromJson(R"({"cep":"1","bairro":"x"})").object());
        QCOMPARE(table.FieldNames(), QStringList({"bairro", "cep"}));
        try {
            (void)table.FieldByName(QStringLiteral("logradouro"));
            QFAIL("a missing field was read");
        } catch (const std::runtime_error& e) {
            QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("MemTable: Field 'logradouro' not found"));
        }
    }

    // Whole lookups as the window runs them: messages, the five texts, and whether a request left.
    void Lookup_data() {
        QTest::addColumn<int>("caller");
        QTest::addColumn<QString>("cep");
        QTest::addColumn<int>("result");
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<bool>("sent");
        const auto r = [](TResultadoCep V) { return int(V); };
        const QStringList none;
        QTest::newRow("found, exit") << int(Exit) << "01001-000" << r(TResultadoCep::rcPreenchido) << kSe
                                     << true;
        QTest::newRow("found, button")
            << int(Button) << "01001000" << r(TResultadoCep::rcPreenchido) << kSe << true;
        QTest::newRow("erro as text")
            << int(Exit) << "99999-999" << r(TResultadoCep::rcNaoEncontrado) << none << true;
        QTest::newRow("erro as boolean")
            << int(Exit) << "99999-998" << r(TResultadoCep::rcNaoEncontrado) << none << true;
        QTest::newRow("erro false fills") << int(Exit) << "99999-997" << r(TResultadoCep::rcPreenchido)
                                          << QStringList{"Rua A", "", "B", "C", "SP"} << true;
        QTest::newRow("letters erro in the address fill")
            << int(Exit) << "13000-000" << r(TResultadoCep::rcPreenchido)
            << QStringList{"Rua Cerro Azul", "", "Aterro", "Campinas", "SP"} << true;
        QTest::newRow("400 with JSON")
            << int(Exit) << "40000-000" << r(TResultadoCep::rcErroConsulta) << none << true;
        QTest::newRow("500 with JSON")
            << int(Exit) << "50000-000" << r(TResultadoCep::rcErroConsulta) << none << true;
        QTest::newRow("redirect followed")
            << int(Exit) << "80000-000" << r(TResultadoCep::rcPreenchido) << kSe << true;
        QTest::newRow("latin-1 body")
            << int(Exit) << "88888-888" << r(TResultadoCep::rcPreenchido)
            << QStringList{QStringLiteral("Rua João Ávila"), QStringLiteral("lado ímpar"),
                           QStringLiteral("Coração"), QStringLiteral("São Paulo"), "SP"}
            << true;
        QTest::newRow("five digits") << int(Exit) << "01001-___" << r(TResultadoCep::rcCepInvalido) << none
                                     << false;
        QTest::newRow("nine digits") << int(Button) << "010010001" << r(TResultadoCep::rcCepInvalido) << none
                                     << false;
        QTest::newRow("button, empty")
            << int(Button) << "" << r(TResultadoCep::rcCepInvalido) << none << false;
        QTest::newRow("exit, empty") << int(Exit) << "" << r(TResultadoCep::rcObrigatorio) << none << false;
        QTest::newRow("exit, mask only")
            << int(Exit) << "_____-___" << r(TResultadoCep::rcObrigatorio) << none << false;
    }
    void Lookup() {
        QFETCH(int, caller);
        QFETCH(QString, cep);
        QFETCH(int, result);
        QFETCH(QStringList, fields);
        QFETCH(bool, sent);
        Fetch(QStringLiteral("/_clear"));

        TDMDados dados(BaseURL());
        Recorded got;
        const TResultadoCep r = caller == Exit ? ConsultarCEPAoSair(cep, dados, got.Targets())
                                               : ConsultarCEP(cep, dados, got.Targets());
        QCOMPARE(int(r), result);
        const QString message = MensagemCep(r);
        QCOMPARE(got.messages, message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(got.fields, fields);
        QCOMPARE(LastRequest().isEmpty(), !sent);
    }

    void RequestLineAndHeaders() {
        Fetch(QStringLiteral("/_clear"));
        TDMDados dados(BaseURL());
        Recorded got;
        QCOMPARE(ConsultarCEP(QStringLiteral("01001-000"), dados, got.Targets()),
                 TResultadoCep::rcPreenchido);
        const QJsonObject last = LastRequest();
        QCOMPARE(last.value("requestline").toString(), QStringLiteral("GET /ws/01001000/json HTTP/1.1"));
        QCOMPARE(last.value("accept").toString(),
                 QStringLiteral("application/json, text/plain; q=0.9, text/html;q=0.8,"));
        QCOMPARE(last.value("accept-charset").toString(), QStringLiteral("utf-8, *;q=0.8"));
        QCOMPARE(dados.RESTResponse1().StatusCode(), 200);
        QCOMPARE(dados.MemTable().FieldByName("ibge"), QStringLiteral("3550308"));
    }

    // Failures that escape the lookup. Each runs after a good lookup on the same container, so a
    // failure must not show that earlier answer's address.
    void LookupErrors_data() {
        QTest::addColumn<QString>("base");  // empty: the stand-in server
        QTest::addColumn<int>("timeout");
        QTest::addColumn<QString>("cep");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QStringList>("fields");
        const QStringList none;
        QTest::newRow("200 not JSON") << "" << 30000 << "60000-000"
                                      << "Response content is not valid JSON" << none;
        QTest::newRow("500 not JSON") << "" << 30000 << "50000-001"
                                      << "Response content is not valid JSON" << none;
        QTest::newRow("no uf") << "" << 30000 << "70000-000"
                               << "MemTable: Field 'uf' not found" << kSe.mid(0, 4);
        QTest::newRow("200 empty body") << "" << 30000 << "20000-000"
                                        << "MemTable: Field 'logradouro' not found" << none;
        QTest::newRow("200 array, not an object") << "" << 30000 << "21000-000"
                                                  << "MemTable: Field 'logradouro' not found" << none;
        QTest::newRow("never answers") << "" << 500 << "90000-000"
                                       << "Connection timed out" << none;
        QTest::newRow("refused") << RefusingBaseURL() << 30000 << "01001-000"
                                 << "Connection refused" << none;
    }
    void LookupErrors() {
        QFETCH(QString, base);
        QFETCH(int, timeout);
        QFETCH(QString, cep);
        QFETCH(QString, error);
        QFETCH(QStringList, fields);

        TDMDados dados(BaseURL());
        Recorded first;
        QCOMPARE(ConsultarCEP(QStringLiteral("01001000"), dados, first.Targets()),
                 TResultadoCep::rcPreenchido);
        if (!base.isEmpty()) dados.RESTClient1().SetBaseURL(base);
        dados.RESTRequest1().SetTimeout(timeout);

        Recorded got;
        try {
            (void)ConsultarCEP(cep, dados, got.Targets());
            QFAIL("the lookup did not fail");
        } catch (const std::runtime_error& e) {
            QCOMPARE(QString::fromUtf8(e.what()), error);
        }
        QCOMPARE(got.messages, QStringList());
        QCOMPARE(got.fields, fields);
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    }

    // The container keeps a 500 an answer; the client's switch turns it into an error.
    void StatusFiveHundred() {
        TDMDados dados(BaseURL());
        dados.RESTRequest1().SetResource(QStringLiteral("50000000/json"));
        dados.RESTRequest1().Execute();
        QCOMPARE(dados.RESTResponse1().StatusCode(), 500);
        QCOMPARE(dados.MemTable().FieldByName("mensagem"), QStringLiteral("falha interna"));

        dados.RESTClient1().SetRaiseExceptionOn500(true);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, dados.RESTRequest1().Execute());
    }

    // While the service is silent the application keeps running its loop, shows the wait
    // cursor and drops the operator's keys; afterwards both are back.
    void InputBlockedWhileWaiting() {
        QLineEdit box;
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        bool ran = false;
        bool waitCursor = false;
        QTimer::singleShot(0, this, [&] {
            ran = true;
            const QCursor* c = QGuiApplication::overrideCursor();
            waitCursor = c && c->shape() == Qt::WaitCursor;
            QTest::keyClicks(&box, QStringLiteral("abc"));
        });
        TDMDados dados(BaseURL(), 500);
        Recorded got;
        QVERIFY_THROWS_EXCEPTION(std::runtime_error,
                                 ConsultarCEP(QStringLiteral("90000000"), dados, got.Targets()));
        QVERIFY(ran);
        QVERIFY(waitCursor);
        QCOMPARE(box.text(), QString());
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        QTest::keyClicks(&box, QStringLiteral("abc"));
        QCOMPARE(box.text(), QStringLiteral("abc"));
    }
};

QTEST_MAIN(TstDMDados)
#include "tst_dmdados.moc"

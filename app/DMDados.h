#pragma once

// The non-visual container of the postal-code lookup: an HTTP client, its request and
// response, the adapter that turns a JSON answer into a table, and that table.

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

class QJsonObject;
class QNetworkAccessManager;

namespace tandrel::app {

/// Joins a base URL and a resource: one "/" between them, added only when the base does not
/// end with one; "/" characters at the start of the resource are dropped. Never fails.
QString JoinURL(const QString& BaseUrl, const QString& Resource);

/// Text of the character set named by a Content-Type header value ("" when it names none).
QString CharsetOfContentType(const QByteArray& ContentType);

/// Decodes a body by the named character set; an empty or unknown name decodes as UTF-8.
QString DecodeBody(const QByteArray& Body, const QString& Charset);

/// The lookup's in-memory table (`MemTable`): text fields filled from a JSON answer. Holds at most one record
/// (the answer's object); that record is always the current one.
class TJsonTable {
public:
    /// Longest text a field keeps, in UTF-16 units; longer values are cut.
    static constexpr int FieldSize = 255;

    /// `Name` is the table's name, put in front of its error messages.
    explicit TJsonTable(QString Name = QStringLiteral("MemTable"));

    /// The table's name.
    const QString& Name() const { return FName; }

    /// Drops every field and the record.
    void Clear();
    /// Replaces fields and record by the object's members, in name order: strings as
    /// their text, null as empty, objects and arrays as compact JSON, other values as text.
    void Fill(const QJsonObject& Object);

    /// Number of records: 1 after a fill, 0 after a clear.
    int RecordCount() const { return FHasRecord ? 1 : 0; }
    /// The field names, in name order.
    QStringList FieldNames() const;
    /// The current record's value of the field, matched without regard to letter case;
    /// nullptr when there is no such field.
    const QString* FindField(const QString& FieldName) const;
    /// As FindField, but a missing field throws std::runtime_error
    /// "<table name>: Field '<name>' not found".
    const QString& FieldByName(const QString& FieldName) const;

private:
    QString FName;
    std::vector<std::pair<QString, QString>> FFields;
    bool FHasRecord = false;
};

/// Status and body of the last answer.
class TRestResponse {
public:
    /// HTTP status of the last answer (0 before any).
    int StatusCode() const { return FStatusCode; }
    /// Body of the last answer as text, decoded by its declared character set, else UTF-8.
    const QString& Content() const { return FContent; }
    /// The Content-Type header of the last answer, as sent.
    const QByteArray& ContentType() const { return FContentType; }

    /// Replaces the answer held.
    void SetAnswer(int StatusCode, QByteArray ContentType, QString Content);

private:
    int FStatusCode = 0;
    QByteArray FContentType;
    QString FContent;
};

/// The HTTP client: base URL, the headers sent with every request and the connection pool.
class TRestClient {
public:
    /// `BaseUrl` is where every resource is looked up.
    explicit TRestClient(QString BaseUrl);
    ~TRestClient();
    TRestClient(const TRestClient&) = delete;
    TRestClient& operator=(const TRestClient&) = delete;

    const QString& BaseURL() const { return FBaseURL; }
    void SetBaseURL(QString V) { FBaseURL = std::move(V); }
    /// The Accept header sent with every request.
    const QString& Accept() const { return FAccept; }
    void SetAccept(QString V) { FAccept = std::move(V); }
    /// The Accept-Charset header sent with every request.
    const QString& AcceptCharset() const { return FAcceptCharset; }
    void SetAcceptCharset(QString V) { FAcceptCharset = std::move(V); }
    /// When false (the default here) an answer of status 500 or above is an answer like any
    /// other; when true it throws std::runtime_error with the status line.
    bool RaiseExceptionOn500() const { return FRaiseExceptionOn500; }
    void SetRaiseExceptionOn500(bool V) { FRaiseExceptionOn500 = V; }

    /// The network access of this client (created with it, needs a Qt application object).
    QNetworkAccessManager& Manager() { return *FManager; }

private:
    QString FBaseURL;
    QString FAccept;
    QString FAcceptCharset;
    bool FRaiseExceptionOn500 = false;
    std::unique_ptr<QNetworkAccessManager> FManager;
};

/// One GET request of a resource below the client's base URL.
class TRestRequest {
public:
    /// Default limit for connecting and for reading, in milliseconds.
    static constexpr int DefaultTimeout = 30000;

    TRestRequest(TRestClient& Client, TRestResponse& Response);

    const QString& Resource() const { return FResource; }
    void SetResource(QString V) { FResource = std::move(V); }
    /// Longest wait, in ms, for the connection and for each piece of the answer.
    int Timeout() const { return FTimeout; }
    void SetTimeout(int V) { FTimeout = V; }
    /// Whether redirects are followed (true by default).
    bool HandleRedirects() const { return FHandleRedirects; }
    void SetHandleRedirects(bool V) { FHandleRedirects = V; }
    /// Called after every answer, before Execute returns; its exceptions leave Execute.
    const std::function<void()>& OnAfterExecute() const { return FOnAfterExecute; }
    void SetOnAfterExecute(std::function<void()> V) { FOnAfterExecute = std::move(V); }

    /// Sends the GET of JoinURL(base URL, resource) and waits for the answer in a local event
    /// loop (the application keeps painting; blocking input is the caller's business). Any
    /// HTTP answer, whatever its status, goes to the response. Throws std::runtime_error
    /// with the transport's message when no answer comes (refused, host not found, time-out),
    /// when a request is already running and when there is no Qt application object.
    void Execute();

private:
    TRestClient& FClient;
    TRestResponse& FResponse;
    QString FResource;
    int FTimeout = DefaultTimeout;
    bool FHandleRedirects = true;
    bool FRunning = false;
    std::function<void()> FOnAfterExecute;
};

/// Turns the response's JSON body into the table's record.
class TRestResponseDataSetAdapter {
public:
    TRestResponseDataSetAdapter(const TRestResponse& Response, TJsonTable& Dataset);

    /// Rebuilds the table from the response: an empty body leaves the table empty, a JSON
    /// object fills one record, any other JSON leaves it empty. A body that is not JSON
    /// throws std::runtime_error "Response content is not valid JSON" (the table stays empty).
    void Refresh();

private:
    const TRestResponse& FResponse;
    TJsonTable& FDataset;
};

/// The container of the postal-code lookup, alive for the whole run.
class TDMDados {
public:
    /// The public service answering "<base>/<8 digits>/json".
    static constexpr const char* DefaultBaseURL = "http://viacep.com.br/ws/";

    /// Builds every component with its settings; `BaseUrl` and `Timeout` (ms) exist for tests.
    explicit TDMDados(QString BaseUrl = QString::fromLatin1(DefaultBaseURL),
                      int Timeout = TRestRequest::DefaultTimeout);
    TDMDados(const TDMDados&) = delete;
    TDMDados& operator=(const TDMDados&) = delete;

    TRestClient& RESTClient1() { return FRESTClient1; }
    TRestRequest& RESTRequest1() { return FRESTRequest1; }
    const TRestResponse& RESTResponse1() const { return FRESTResponse1; }
    TRestResponseDataSetAdapter& RESTResponseDataSetAdapter1() { return FRESTResponseDataSetAdapter1; }
    const TJsonTable& MemTable() const { return FMemTable; }

private:
    TRestClient FRESTClient1;
    TRestResponse FRESTResponse1;
    TRestRequest FRESTRequest1;
    TJsonTable FMemTable;
    TRestResponseDataSetAdapter FRESTResponseDataSetAdapter1;
};

}  // namespace tandrel::app

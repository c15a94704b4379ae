#include "app/DMDados.h"

#include "mime/Charsets.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QUrl>

#include <stdexcept>
#include <string>

namespace tandrel::app {

namespace {

std::runtime_error Error(const QString& Message) { return std::runtime_error(Message.toStdString()); }

QString FieldText(const QJsonValue& Value) {
    switch (Value.type()) {
        case QJsonValue::Null:
        case QJsonValue::Undefined: return {};
        case QJsonValue::String: return Value.toString();
        case QJsonValue::Bool: return Value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
        case QJsonValue::Double: return Value.toVariant().toString();
        case QJsonValue::Object:
            return QString::fromUtf8(QJsonDocument(Value.toObject()).toJson(QJsonDocument::Compact));
        case QJsonValue::Array:
            return QString::fromUtf8(QJsonDocument(Value.toArray()).toJson(QJsonDocument::Compact));
    }
    return {};
}

QString CutToFieldSize(QString Text) {
    if (Text.size() <= TJsonTable::FieldSize) return Text;
    int size = TJsonTable::FieldSize;
    // Never leave half of a surrogate pair at the end.
    if (Text.at(size - 1).isHighSurrogate()) --size;
    Text.truncate(size);
    return Text;
}

bool IsTransportError(QNetworkReply::NetworkError E) {
    // Below 200: no connection, or the proxy failed; the HTTP layer answered otherwise.
    return E != QNetworkReply::NoError && E < QNetworkReply::ContentAccessDenied;
}

}  // namespace

QString JoinURL(const QString& BaseUrl, const QString& Resource) {
    qsizetype start = 0;
    while (start < Resource.size() && Resource.at(start) == u'/') ++start;
    QString url = BaseUrl;
    if (!url.endsWith(u'/')) url += u'/';
    return url + Resource.mid(start);
}

QString CharsetOfContentType(const QByteArray& ContentType) {
    const QList<QByteArray> params = ContentType.split(';');
    for (qsizetype i = 1; i < params.size(); ++i) {
        const QByteArray param = params.at(i).trimmed();
        const qsizetype eq = param.indexOf('=');
        if (eq < 0 || param.left(eq).trimmed().toLower() != "charset") continue;
        QByteArray value = param.mid(eq + 1).trimmed();
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.mid(1, value.size() - 2);
        return QString::fromLatin1(value);
    }
    return {};
}

QString DecodeBody(const QByteArray& Body, const QString& Charset) {
    if (!Charset.isEmpty()) {
        QStringDecoder decoder(Charset.toLatin1().constData());
        if (decoder.isValid()) return decoder.decode(Body);
        // A Qt without ICU knows only the Unicode encodings and Latin-1; the MIME
        // library knows the charsets mail names. It reads names it does not know as
        // Latin-1, which Qt knows by its usual names, so that answer means "unknown".
        const mime::TMimeChar known = mime::GetCPFromID(Charset.toStdString());
        if (known != mime::TMimeChar::ISO_8859_1)
            return QString::fromStdString(mime::CharsetConversion(
                std::string(Body.constData(), std::size_t(Body.size())), known, mime::TMimeChar::UTF_8));
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    return utf8.decode(Body);
}

// ---- TJsonTable ----

TJsonTable::TJsonTable(QString Name) : FName(std::move(Name)) {}

void TJsonTable::Clear() {
    FFields.clear();
    FHasRecord = false;
}

void TJsonTable::Fill(const QJsonObject& Object) {
    Clear();
    for (auto it = Object.begin(); it != Object.end(); ++it)
        FFields.emplace_back(it.key(), CutToFieldSize(FieldText(it.value())));
    FHasRecord = true;
}

QStringList TJsonTable::FieldNames() const {
    QStringList names;
    for (const auto& field : FFields) names << field.first;
    return names;
}

const QString* TJsonTable::FindField(const QString& FieldName) const {
    for (const auto& field : FFields)
        if (field.first.compare(FieldName, Qt::CaseInsensitive) == 0) return &field.second;
    return nullptr;
}

const QString& TJsonTable::FieldByName(const QString& FieldName) const {
    if (const QString* value = FindField(FieldName)) return *value;
    throw Error(QStringLiteral("%1: Field '%2' not found").arg(FName, FieldName));
}

// ---- TRestResponse ----

void TRestResponse::SetAnswer(int StatusCode, QByteArray ContentType, QString Content) {
    FStatusCode = StatusCode;
    FContentType = std::move(ContentType);
    FContent = std::move(Content);
}

// ---- TRestClient ----

TRestClient::TRestClient(QString BaseUrl)
    : FBaseURL(std::move(BaseUrl)),
      FAccept(QStringLiteral("application/json, text/plain; q=0.9, text/html;q=0.8,")),
      FAcceptCharset(QStringLiteral("utf-8, *;q=0.8")),
      FManager(std::make_unique<QNetworkAccessManager>()) {}

TRestClient::~TRestClient() = default;

// ---- TRestRequest ----

TRestRequest::TRestRequest(TRestClient& Client, TRestResponse& Response)
    : FClient(Client), FResponse(Response) {}

void TRestRequest::Execute() {
    if (FRunning) throw Error(QStringLiteral("A request is already running"));
    if (!QCoreApplication::instance())
        throw Error(QStringLiteral("A request needs a running Qt application"));
    FRunning = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{FRunning};

    QNetworkRequest request(QUrl(JoinURL(FClient.BaseURL(), FResource)));
    request.setRawHeader("Accept", FClient.Accept().toLatin1());
    request.setRawHeader("Accept-Charset", FClient.AcceptCharset().toLatin1());
    // Qt's inactivity limit covers both the wait for the connection and each read.
    request.setTransferTimeout(FTimeout);
    request.setAttribute(
        QNetworkRequest::RedirectPolicyAttribute,
        FHandleRedirects ? QNetworkRequest::NoLessSafeRedirectPolicy : QNetworkRequest::ManualRedirectPolicy);

    std::unique_ptr<QNetworkReply> reply(FClient.Manager().get(request));
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished()) loop.exec();

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError error = reply->error();
    if (!status.isValid() || IsTransportError(error)) {
        // Qt reports its own inactivity limit as a cancelled operation.
        if (error == QNetworkReply::OperationCanceledError)
            throw Error(QStringLiteral("Connection timed out"));
        throw Error(reply->errorString());
    }
    const int statusCode = status.toInt();
    if (FClient.RaiseExceptionOn500() && statusCode >= 500)
        throw Error(QStringLiteral("%1 %2")
                        .arg(statusCode)
                        .arg(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString()));

    const QByteArray contentType = reply->rawHeader("Content-Type");
    const QByteArray body = reply->readAll();
    FResponse.SetAnswer(statusCode, contentType, DecodeBody(body, CharsetOfContentType(contentType)));
    if (FOnAfterExecute) FOnAfterExecute();
}

// ---- TRestResponseDataSetAdapter ----

TRestResponseDataSetAdapter::TRestResponseDataSetAdapter(const TRestResponse& Response, TJsonTable& Dataset)
    : FResponse(Response), FDataset(Dataset) {}

void TRestResponseDataSetAdapter::Refresh() {
    // Always start empty, so that a failed or empty answer never shows the previous one.
    FDataset.Clear();
    if (FResponse.Content().isEmpty()) return;
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(FResponse.Content().toUtf8(), &parseError);
    if (parseError.error != QJsonParseError::NoError)
        throw Error(QStringLiteral("Response content is not valid JSON"));
    if (doc.isObject()) FDataset.Fill(doc.object());
}

// ---- TDMDados ----

TDMDados::TDMDados(QString BaseUrl, int Timeout)
    : FRESTClient1(std::move(BaseUrl)),
      FRESTRequest1(FRESTClient1, FRESTResponse1),
      FRESTResponseDataSetAdapter1(FRESTResponse1, FMemTable) {
    FRESTRequest1.SetTimeout(Timeout);
    FRESTRequest1.SetOnAfterExecute([this] { FRESTResponseDataSetAdapter1.Refresh(); });
}

}  // namespace tandrel::app

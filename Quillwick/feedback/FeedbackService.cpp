#include "Quillwick/feedback/FeedbackService.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QStringList>
#include <QSysInfo>

#include <map>
#include <memory>

#include "helperkit/PlistCodec.h"
#include "helperkit/SystemPaths.h"

namespace qw {

namespace {

constexpr const char* maker = "tarnmoor.com";

std::optional<QString>& infoPlistOverride()
{
    static std::optional<QString> path;
    return path;
}

PlistDictionary infoPlist()
{
    QFile file(FeedbackService::infoPlistPath());
    if (file.fileName().isEmpty() || !file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    try {
        const auto parsed = PlistCodec::read(std::string_view(bytes.constData(), std::size_t(bytes.size())));
        if (const auto* dictionary = parsed.value.dictionaryValue(); dictionary && !parsed.empty) return *dictionary;
    } catch (const PlistParseError&) {
    }
    return {};
}

std::optional<QString> text(const PlistDictionary& plist, std::string_view key)
{
    if (const auto* value = plist.find(key); value && value->stringPointer())
        return QString::fromStdString(*value->stringPointer());
    return std::nullopt;
}

bool isUnexpandedSetting(const QString& value) { return value.startsWith(QLatin1String("$(")); }

bool isBlankOrTab(QChar c) { return c == u'\t' || c.category() == QChar::Separator_Space; }

// The platform writer's escaping: quote, backslash and slash escaped, the short forms for the usual
// control characters and \u00xx for the rest; everything else as UTF-8. Runs of plain characters go
// through the encoder whole, so surrogate pairs stay together.
QByteArray jsonString(const QString& value)
{
    QByteArray out = "\"";
    qsizetype plainFrom = 0;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char16_t c = value.at(i).unicode();
        const char* escape = nullptr;
        switch (c) {
        case u'"': escape = "\\\""; break;
        case u'\\': escape = "\\\\"; break;
        case u'/': escape = "\\/"; break;
        case u'\b': escape = "\\b"; break;
        case u'\f': escape = "\\f"; break;
        case u'\n': escape = "\\n"; break;
        case u'\r': escape = "\\r"; break;
        case u'\t': escape = "\\t"; break;
        default:
            if (c >= 0x20) continue;
        }
        out += value.mid(plainFrom, i - plainFrom).toUtf8();
        out += escape ? QByteArray(escape) : "\\u" + QByteArray::number(int(c), 16).rightJustified(4, '0');
        plainFrom = i + 1;
    }
    out += value.mid(plainFrom).toUtf8();
    return out + '"';
}

QNetworkAccessManager* sharedNetwork()
{
    static QPointer<QNetworkAccessManager> manager;
    if (!manager) manager = new QNetworkAccessManager(QCoreApplication::instance());
    return manager;
}

// More than any answer of the endpoint's; a server sending more is cut off and judged by its status.
constexpr qint64 replyMax = 64 * 1024;
constexpr const char* outsizedProperty = "qwReplyOutsized";

std::exception_ptr outcome(QNetworkReply* reply, const QString& host)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const bool outsized = reply->property(outsizedProperty).toBool();
    const auto error = outsized ? QNetworkReply::NoError : reply->error();
    // Statuses of 400 and more also set an error; only transport trouble below 200 means no usable reply.
    const bool transportFailed = error != QNetworkReply::NoError && (!status.isValid() || error < 200);
    if (transportFailed) {
        const bool timedOut = error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError;
        return std::make_exception_ptr(FeedbackService::FeedbackError::network(
            host, timedOut ? QStringLiteral("The request timed out.") : reply->errorString()));
    }
    if (!status.isValid())
        return std::make_exception_ptr(FeedbackService::FeedbackError::network(host, QStringLiteral("no response")));
    const int code = status.toInt();
    if (code == 200) return nullptr;
    QString message;
    if (const QJsonDocument reply_ = QJsonDocument::fromJson(reply->isOpen() ? reply->read(replyMax) : QByteArray()); reply_.isObject()) {
        if (const QJsonValue value = reply_.object().value(QLatin1String("message")); value.isString())
            message = value.toString();
    }
    return std::make_exception_ptr(FeedbackService::FeedbackError::server(code, message));
}

void post(const FeedbackTransport& transport, const QUrl& endpoint, QNetworkAccessManager* network,
          const FeedbackService::Headers& headers, const QByteArray& body, const QPointer<QObject>& caller,
          const FeedbackService::Completion& done)
{
    QNetworkRequest request(endpoint);
    request.setTransferTimeout(int(transport.timeout.count()));
    for (const auto& [name, value] : headers) request.setRawHeader(name, value);
    QNetworkReply* reply = network->post(request, body);
    // Aborted, the reply reads as timed out, which is what a transfer that barely moves is.
    guardTransfer(reply, transport.floor);
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64) {
        if (received <= replyMax || reply->property(outsizedProperty).toBool()) return;
        reply->setProperty(outsizedProperty, true);
        reply->abort();
    });
    const QString host = endpoint.host();
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, host, caller, done] {
        reply->deleteLater();
        if (caller) done(outcome(reply, host));
    });
}

}  // namespace

// Category

QString FeedbackService::rawValue(Category category)
{
    switch (category) {
    case Category::feedback: return QStringLiteral("feedback");
    case Category::bug: return QStringLiteral("bug");
    case Category::feature: return QStringLiteral("feature");
    }
    return {};
}

QString FeedbackService::title(Category category)
{
    switch (category) {
    case Category::feedback: return QStringLiteral("Feedback");
    case Category::bug: return QStringLiteral("Bug");
    case Category::feature: return QStringLiteral("Idea");
    }
    return {};
}

std::optional<FeedbackService::Category> FeedbackService::category(const QString& raw)
{
    for (const Category c : allCategories)
        if (rawValue(c) == raw) return c;
    return std::nullopt;
}

// FeedbackError

FeedbackService::FeedbackError::FeedbackError(Kind kind, qint64 status, QString detail, const QString& description)
    : std::runtime_error(description.toStdString()), kind_(kind), status_(status), detail_(std::move(detail))
{
}

FeedbackService::FeedbackError FeedbackService::FeedbackError::server(qint64 status, const QString& serverMessage)
{
    QString description;
    if (status == 401)
        description = QStringLiteral("This build can't send feedback — please use the website.");
    else if (status == 429)
        description = QStringLiteral("Too many messages in a row — try again in a few minutes.");
    else if (!serverMessage.isEmpty())
        description = serverMessage;
    else
        description = QStringLiteral("The server didn't accept it (%1).").arg(status);
    return FeedbackError(Kind::server, status, serverMessage, description);
}

FeedbackService::FeedbackError FeedbackService::FeedbackError::network(const QString& host, const QString& description)
{
    return FeedbackError(Kind::network, 0, description, QStringLiteral("Couldn't reach %1: %2").arg(host, description));
}

FeedbackService::FeedbackError FeedbackService::FeedbackError::notConfigured()
{
    return FeedbackError(Kind::notConfigured, 0, {}, QStringLiteral("Feedback isn't available in this build."));
}

// Configuration

QString FeedbackService::infoPlistPath()
{
    if (const auto& path = infoPlistOverride()) return *path;
    if (const auto bundle = SystemPaths::applicationBundle())
        return QString::fromStdString((*bundle / "Contents" / "Info.plist").string());
    return {};
}

FeedbackService::InfoPlistOverride::InfoPlistOverride(const QString& path) : previous_(infoPlistOverride())
{
    infoPlistOverride() = path;
}

FeedbackService::InfoPlistOverride::~InfoPlistOverride() { infoPlistOverride() = previous_; }

std::optional<QString> FeedbackService::secret()
{
    const auto value = text(infoPlist(), "SupportSecret");
    if (!value || value->isEmpty() || isUnexpandedSetting(*value)) return std::nullopt;
    return value;
}

QString FeedbackService::appName()
{
    const PlistDictionary plist = infoPlist();
    if (auto name = text(plist, "CFBundleDisplayName")) return *name;
    if (auto name = text(plist, "CFBundleName")) return *name;
    return QStringLiteral("App");
}

QString FeedbackService::appVersion()
{
    const PlistDictionary plist = infoPlist();
    QString version = text(plist, "CFBundleShortVersionString").value_or(QStringLiteral("0.0.0"));
    if (const auto build = text(plist, "CFBundleVersion")) version += QStringLiteral(" (%1)").arg(*build);
    return version;
}

QString FeedbackService::osVersion()
{
    const QStringList parts = QSysInfo::productVersion().split(u'.');
    QStringList numbers;
    for (int i = 0; i < 3; ++i) numbers << QString::number(i < parts.size() ? parts[i].toInt() : 0);
    return numbers.join(u'.');
}

QString FeedbackService::slug()
{
    if (const auto value = text(infoPlist(), "SupportSlug"); value && !value->isEmpty() && !isUnexpandedSetting(*value))
        return *value;
    return appName().toLower().replace(u' ', u'-');
}

QString FeedbackService::makerHost() { return QString::fromLatin1(maker); }

QUrl FeedbackService::websiteURL()
{
    // Percent-encoded, so a slug with a slash or a space still names one page.
    return QUrl(QStringLiteral("https://%1/apps/%2").arg(makerHost(), QString::fromLatin1(QUrl::toPercentEncoding(slug()))));
}

QUrl FeedbackService::endpoint()
{
    static const QUrl url = [] {
#ifdef QUILLWICK_SANDBOX
        if (const QUrl local(qEnvironmentVariable("QUILLWICK_SUPPORT_URL")); local.isValid() && !local.host().isEmpty())
            return local;
#endif
        return QUrl(QStringLiteral("https://%1/api/support").arg(makerHost()));
    }();
    return url;
}

// The request

QString FeedbackService::hex(const QByteArray& bytes) { return QString::fromLatin1(bytes.toHex()); }

QString FeedbackService::signature(const QString& timestamp, const QByteArray& body, const QString& secret)
{
    return hex(QMessageAuthenticationCode::hash(AppAttestClient::clientData(timestamp, body), secret.toUtf8(),
                                                QCryptographicHash::Sha256));
}

QString FeedbackService::userAgent()
{
    return QStringLiteral("%1/%2 (macOS %3)").arg(appName().remove(u' '), appVersion(), osVersion());
}

QString FeedbackService::trimmedEmail(const QString& email)
{
    qsizetype from = 0;
    qsizetype to = email.size();
    while (from < to && isBlankOrTab(email.at(from))) ++from;
    while (to > from && isBlankOrTab(email.at(to - 1))) --to;
    return email.mid(from, to - from);
}

QByteArray FeedbackService::body(Category category, const QString& message, const QString& email,
                                 const std::optional<AppAttestClient::Attestation>& attestation)
{
    std::map<QString, QString> fields{
        {QStringLiteral("app"), appName()},
        {QStringLiteral("category"), rawValue(category)},
        {QStringLiteral("message"), message},
        {QStringLiteral("version"), appVersion()},
        {QStringLiteral("platform"), QStringLiteral("macOS")},
        {QStringLiteral("os"), osVersion()},
    };
    if (const QString trimmed = trimmedEmail(email); !trimmed.isEmpty()) fields[QStringLiteral("email")] = trimmed;
    if (attestation) {
        fields[QStringLiteral("attest_key_id")] = attestation->keyID;
        fields[QStringLiteral("attest_attestation")] = attestation->attestation;
    }
    QByteArray out = "{";
    for (const auto& [key, value] : fields) {
        if (out.size() > 1) out += ',';
        out += jsonString(key) + ':' + jsonString(value);
    }
    return out + '}';
}

FeedbackService::Headers FeedbackService::headers(const QString& timestamp, const QByteArray& body,
                                                  const QString& secret, const std::optional<QString>& assertion)
{
    Headers headers{
        {"Content-Type", "application/json"},
        {"Accept", "application/json"},
        {"X-Support-Timestamp", timestamp.toUtf8()},
        {"X-Support-Signature", signature(timestamp, body, secret).toLatin1()},
    };
    if (assertion) headers.append({"X-Support-Assertion", assertion->toLatin1()});
    headers.append({"User-Agent", userAgent().toUtf8()});
    return headers;
}

void FeedbackService::send(Category category, const QString& message, const QString& email, QObject* context,
                           Completion done, const Transport& transport)
{
    const auto key = secret();
    if (!key) return done(std::make_exception_ptr(FeedbackError::notConfigured()));

    AppAttestClient* attest = transport.attest ? transport.attest : &AppAttestClient::shared();
    const QUrl url = transport.endpoint.isEmpty() ? endpoint() : transport.endpoint;
    QNetworkAccessManager* network = transport.network ? transport.network : sharedNetwork();
    const QPointer<QObject> caller(context);

    // The steps run in the network manager's context, so a send goes on when its caller is gone; only
    // the answer is dropped then.
    attest->attestation(network, [=, secret = *key](std::optional<AppAttestClient::Attestation> attestation) {
        const QByteArray bytes = body(category, message, email, attestation);
        const QString timestamp = QString::number(QDateTime::currentSecsSinceEpoch());
        if (!attestation)
            return post(transport, url, network, headers(timestamp, bytes, secret, std::nullopt), bytes, caller, done);
        attest->assertion(attestation->keyID, timestamp, bytes, network, [=](std::optional<QString> assertion) {
            post(transport, url, network, headers(timestamp, bytes, secret, assertion), bytes, caller, done);
        });
    });
}

}  // namespace qw

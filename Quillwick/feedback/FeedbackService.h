// FeedbackService: what the build says about itself (name, version, web page, support secret), read
// from the application bundle's Info.plist each time it is asked, and the one signed POST of a
// feedback message to the support endpoint. No instances and no state of its own.
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

#include <array>
#include <chrono>
#include <exception>
#include <functional>
#include <optional>
#include <stdexcept>

#include "Quillwick/feedback/AppAttestClient.h"
#include "Quillwick/platform/net/TransferGuard.h"

class QNetworkAccessManager;
class QObject;

namespace qw {

// What a send goes through; the defaults are the process's own.
struct FeedbackTransport {
    QUrl endpoint;                              // empty: FeedbackService::endpoint()
    std::chrono::milliseconds timeout{20000};   // of silence
    TransferLimits floor;                       // a trickle ends as silence does
    AppAttestClient* attest = nullptr;          // nullptr: AppAttestClient::shared()
    QNetworkAccessManager* network = nullptr;   // nullptr: one shared by the process
};

class FeedbackService {
public:
    FeedbackService() = delete;

    enum class Category { feedback, bug, feature };
    static constexpr std::array<Category, 3> allCategories{Category::feedback, Category::bug, Category::feature};
    static QString rawValue(Category category);   // sent as "category"
    static QString title(Category category);      // shown in the window
    static std::optional<Category> category(const QString& rawValue);

    class FeedbackError : public std::runtime_error {
    public:
        enum class Kind { server, network, notConfigured };
        static FeedbackError server(qint64 status, const QString& serverMessage);
        static FeedbackError network(const QString& host, const QString& description);
        static FeedbackError notConfigured();

        Kind kind() const { return kind_; }
        qint64 status() const { return status_; }  // server only
        const QString& detail() const { return detail_; }  // the server message, or the network description
        // The user-facing sentence; what() holds the same text.
        QString errorDescription() const { return QString::fromUtf8(what()); }

    private:
        FeedbackError(Kind kind, qint64 status, QString detail, const QString& description);
        Kind kind_;
        qint64 status_;
        QString detail_;
    };

    // The Info.plist read: the running bundle's Contents/Info.plist, or the one a test installed.
    static QString infoPlistPath();
    class InfoPlistOverride {
    public:
        explicit InfoPlistOverride(const QString& path);
        ~InfoPlistOverride();
        InfoPlistOverride(const InfoPlistOverride&) = delete;
        InfoPlistOverride& operator=(const InfoPlistOverride&) = delete;

    private:
        std::optional<QString> previous_;
    };

    static std::optional<QString> secret();
    static QString appName();
    static QString appVersion();
    static QString osVersion();
    static QString slug();
    static QUrl websiteURL();
    // https://<maker's host>/api/support; in a sandbox build QUILLWICK_SUPPORT_URL, when set, replaces
    // the whole URL. Fixed on first use.
    static QUrl endpoint();
    static QString makerHost();

    static QString hex(const QByteArray& bytes);
    static QString signature(const QString& timestamp, const QByteArray& body, const QString& secret);
    static QString userAgent();
    // The e-mail as sent: blanks and tabs trimmed at both ends, line breaks kept.
    static QString trimmedEmail(const QString& email);

    // The JSON body exactly as sent: keys sorted, compact, "/" escaped.
    static QByteArray body(Category category, const QString& message, const QString& email,
                           const std::optional<AppAttestClient::Attestation>& attestation);
    // The request's headers in the order they are set.
    using Headers = QList<QPair<QByteArray, QByteArray>>;
    static Headers headers(const QString& timestamp, const QByteArray& body, const QString& secret,
                           const std::optional<QString>& assertion);

    using Transport = FeedbackTransport;

    // Null when the server took the message, else the failure (a FeedbackError). `done` runs on the main
    // thread, and not at all once `context` is gone; the send itself is not cancelled then.
    using Completion = std::function<void(std::exception_ptr failure)>;
    static void send(Category category, const QString& message, const QString& email, QObject* context,
                     Completion done, const Transport& transport = {});
};

}  // namespace qw

// FeedUpdater: the updater that stands in for the update framework here. A check reads the appcast
// named by the Info.plist's SUFeedURL and compares its newest item with the bundle's CFBundleVersion;
// a download is kept only when its Ed25519 signature verifies against SUPublicEDKey, and is then shown
// in the file manager. What a check or a download takes in and how long it may run are bounded. Installing is left to the user. Automatic checks run at most once a day and
// speak only of a newer version; a check the user asks for shows every outcome in its window.
// Main thread only.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include <QDateTime>
#include <QNetworkAccessManager>
#include <QPointer>
#include <QSettings>
#include <QTemporaryFile>
#include <QTimer>
#include <QUrl>

#include "Quillwick/platform/gui/Appcast.h"
#include "Quillwick/platform/gui/UpdateWindow.h"
#include "Quillwick/platform/gui/UpdaterBackend.h"
#include "helperkit/PlistValue.h"

class QNetworkReply;

namespace qw {

class FeedUpdater final : public UpdaterBackend {
    Q_OBJECT
public:
    // What the updater touches outside itself.
    struct Environment {
        std::unique_ptr<QSettings> settings;         // the automatic-check switch and the last check's time
        std::filesystem::path downloads;             // where a verified download is saved
        // Shows a saved download in the file manager, or says over the window where it is.
        std::function<void(QWidget* window, const QString& path)> reveal;
        // Opens the release notes, or says over the window where they are.
        std::function<void(QWidget* window, const QUrl& url)> openLink;
        std::optional<QUrl> feedURL;                 // replaces SUFeedURL
        struct Limits {
            qint64 feedBytes = qint64(4) << 20;
            qint64 archiveBytes = qint64(1) << 30;  // or the length the feed declares, when smaller
            std::chrono::milliseconds checkDeadline{std::chrono::seconds(60)};
            // A transfer that moves less than bytesPerSecond over a whole `stall` ends.
            std::chrono::milliseconds stall{std::chrono::seconds(30)};
            qint64 bytesPerSecond = 1024;
        } limits;

        // The application's settings, ~/Downloads and the desktop's file manager and browser, which
        // say nothing when they fail; in a sandbox build QUILLWICK_FEED_URL, when set, replaces the feed.
        static Environment standard();
    };

    static constexpr const char* automaticChecksKey = "SUEnableAutomaticChecks";
    static constexpr const char* lastCheckTimeKey = "SULastCheckTime";
    static constexpr std::chrono::hours checkInterval{24};

    struct Status {
        enum class Kind { idle, checking, upToDate, available, downloading, downloaded, refused, failed };
        // Why a step failed: the server could not be reached or stopped sending in time, it answered
        // with an error status, it redirected where it may not, its answer could not be decompressed,
        // the feed did not parse or was too large, the file could not be written, the download
        // outgrew its length.
        enum class Failure { none, network, server, redirect, undecodable, feed, saving, tooLarge };
        Kind kind = Kind::idle;
        std::optional<Appcast::Item> item;  // the newer version, from available on
        qint64 received = 0, total = 0;     // while downloading; total 0 when unknown
        QString savedPath;                  // downloaded
        Failure failure = Failure::none;
        bool whileDownloading = false;      // failed: the download failed, not the check
        QString detail;                     // failed: what went wrong, in the network's, parser's or system's words
    };

    // `info` is the bundle's information dictionary: the feed, the key and the version come from it.
    FeedUpdater(const PlistDictionary& info, Environment environment, QObject* parent = nullptr);
    ~FeedUpdater() override;

    bool canCheckForUpdates() const override;
    bool automaticallyChecksForUpdates() const override { return automatic_; }
    void setAutomaticallyChecksForUpdates(bool on) override;
    // Shows the window and every outcome in it, also of an automatic check already running.
    void checkForUpdates() override;

    // Fetches the newer version found by the last check.
    void download();
    // Stops a running check or download; the window closes.
    void cancel();
    // Shows the saved download in the file manager again.
    void revealDownload() const;
    void openLink(QWidget* window, const QUrl& url) const;

    const Status& status() const { return status_; }
    QString appName() const { return appName_; }
    QString shortVersion() const { return shortVersion_; }
    // When the next automatic check is due; nothing while automatic checks are off.
    std::optional<QDateTime> nextAutomaticCheck() const;
    // Null until a check has had something to show.
    UpdateWindow* window() const { return window_; }

signals:
    void statusChanged();

private:
    bool busy() const;
    void check(bool userInitiated);
    // The one request under way; it ends when the server stops sending or crawls.
    QNetworkReply* get(const QUrl& url);
    // Records the check and schedules the next, however it ended.
    void checkEnded();
    std::pair<Status::Failure, QString> failureOf(QNetworkReply* reply) const;
    // An error status ends the transfer at once: its body is a page about the error, however long.
    bool endOnErrorStatus(QNetworkReply* reply, bool whileDownloading);
    void finishCheck(QNetworkReply* reply);
    void receiveArchive();
    void finishDownload(QNetworkReply* reply);
    // Drops the request under way, and the partial download with it.
    void stopTransfer();
    void runScheduledCheck();
    void schedule();
    void setStatus(Status status);
    void showWindow();
    void fail(Status::Failure failure, const QString& detail, bool whileDownloading);

    QUrl feedURL_;
    QByteArray publicKey_;
    QString version_;
    QString shortVersion_;
    QString appName_;
    Environment environment_;
    bool automatic_ = false;
    bool userInitiated_ = false;
    Status status_;
    QNetworkAccessManager network_;
    QPointer<QNetworkReply> reply_;
    std::unique_ptr<QTemporaryFile> partial_;  // the archive as it arrives, beside where it will be saved
    qint64 archiveLimit_ = 0;
    QTimer timer_;
    QTimer deadline_;
    QPointer<UpdateWindow> window_;
};

}  // namespace qw

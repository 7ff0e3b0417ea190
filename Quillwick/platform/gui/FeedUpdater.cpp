#include "Quillwick/platform/gui/FeedUpdater.h"

#include <algorithm>

#include <QFileInfo>
#include <QLoggingCategory>
#include <QNetworkReply>
#include <QNetworkRequest>

#include "Quillwick/platform/gui/ArchiveSignature.h"
#include "Quillwick/platform/gui/BundleInfo.h"
#include "Quillwick/platform/gui/DesktopServices.h"
#include "helperkit/AtomicFile.h"
#include "helperkit/Base64.h"
#include "helperkit/SystemPaths.h"

namespace qw {
namespace {
Q_LOGGING_CATEGORY(logUpdater, "com.tarnmoor.quillwick.updater")

constexpr std::chrono::seconds transferTimeout{30};
constexpr std::chrono::hours busyRetry{1};

QString infoText(const PlistDictionary& info, std::string_view key) {
    return QString::fromStdString(bundleString(info, key).value_or(std::string()));
}

// What went wrong, in words for the window. A cancel of our own never gets here, so a cancelled
// transfer is one that timed out.
QString failureDetail(const QNetworkReply& reply) {
    if (reply.error() == QNetworkReply::OperationCanceledError)
        return QStringLiteral("no answer within %1 seconds").arg(transferTimeout.count());
    return reply.errorString();
}

FeedUpdater::Status statusOf(FeedUpdater::Status::Kind kind, std::optional<Appcast::Item> item = std::nullopt) {
    FeedUpdater::Status status;
    status.kind = kind;
    status.item = std::move(item);
    return status;
}

// The archive's own name from its URL, unless that would be hidden or no name at all.
QString archiveName(const Appcast::Item& item, const QString& appName) {
    const QString name = QFileInfo(item.url.path()).fileName();
    if (name.isEmpty() || name.startsWith(u'.'))
        return appName + u' ' + item.shortVersion;
    return name;
}

// A name in the folder that nothing has yet: "x.zip", then "x 2.zip", "x 3.zip"…
std::filesystem::path unusedPath(const std::filesystem::path& folder, const QString& name) {
    const QFileInfo file(name);
    const QString suffix = file.suffix().isEmpty() ? QString() : u'.' + file.suffix();
    for (int n = 1;; ++n) {
        const QString candidate = n == 1 ? name : QStringLiteral("%1 %2%3").arg(file.completeBaseName()).arg(n).arg(suffix);
        const std::filesystem::path path = folder / candidate.toStdString();
        std::error_code error;
        if (std::filesystem::symlink_status(path, error).type() == std::filesystem::file_type::not_found)
            return path;
    }
}

}  // namespace

FeedUpdater::Environment FeedUpdater::Environment::standard() {
    Environment environment;
    environment.settings = std::make_unique<QSettings>("tarnmoor", "Quillwick");
    environment.downloads = SystemPaths::current().home() / "Downloads";
    environment.reveal = [](const QString& path) { revealInFileManager(path); };
#ifdef QUILLWICK_SANDBOX
    if (const QUrl local(qEnvironmentVariable("QUILLWICK_FEED_URL")); local.isValid() && !local.host().isEmpty())
        environment.feedURL = local;
#endif
    return environment;
}

FeedUpdater::FeedUpdater(const PlistDictionary& info, Environment environment, QObject* parent)
    : UpdaterBackend(parent), environment_(std::move(environment)) {
    feedURL_ = environment_.feedURL.value_or(QUrl(infoText(info, "SUFeedURL")));
    if (const auto key = Base64::decode(infoText(info, "SUPublicEDKey").toStdString()))
        publicKey_ = QByteArray(reinterpret_cast<const char*>(key->data()), qsizetype(key->size()));
    version_ = infoText(info, "CFBundleVersion");
    shortVersion_ = infoText(info, "CFBundleShortVersionString");
    if (shortVersion_.isEmpty())
        shortVersion_ = version_;
    appName_ = infoText(info, "CFBundleDisplayName");
    if (appName_.isEmpty())
        appName_ = infoText(info, "CFBundleName");
    automatic_ = environment_.settings->value(automaticChecksKey, false).toBool();
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &FeedUpdater::runScheduledCheck);
    schedule();
}

FeedUpdater::~FeedUpdater() {
    if (reply_)
        disconnect(reply_, nullptr, this, nullptr);
    delete window_.data();
}

bool FeedUpdater::busy() const {
    return status_.kind == Status::Kind::checking || status_.kind == Status::Kind::downloading;
}

void FeedUpdater::setAutomaticallyChecksForUpdates(bool on) {
    automatic_ = on;
    environment_.settings->setValue(automaticChecksKey, on);
    schedule();
}

std::optional<QDateTime> FeedUpdater::nextAutomaticCheck() const {
    if (!automatic_)
        return std::nullopt;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QDateTime last = environment_.settings->value(lastCheckTimeKey).toDateTime();
    // A last check in the future means the clock was set back: check now rather than wait for it.
    if (!last.isValid() || last > now)
        return now;
    return last.addSecs(std::chrono::seconds(checkInterval).count());
}

void FeedUpdater::schedule() {
    timer_.stop();
    if (const auto due = nextAutomaticCheck())
        timer_.start(std::chrono::milliseconds(std::max<qint64>(0, QDateTime::currentDateTimeUtc().msecsTo(*due))));
}

void FeedUpdater::runScheduledCheck() {
    // Not over the user's own check, nor over what the window shows them.
    if (busy() || (window_ && window_->isVisible())) {
        timer_.start(busyRetry);
        return;
    }
    check(false);
}

void FeedUpdater::checkForUpdates() { check(true); }

void FeedUpdater::check(bool userInitiated) {
    if (busy()) {
        if (userInitiated)
            showWindow();
        return;
    }
    userInitiated_ = userInitiated;
    setStatus(statusOf(Status::Kind::checking));
    if (userInitiated)
        showWindow();
    QNetworkReply* reply = get(feedURL_);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { finishCheck(reply); });
}

QNetworkReply* FeedUpdater::get(const QUrl& url) {
    QNetworkRequest request(url);
    request.setTransferTimeout(int(std::chrono::milliseconds(transferTimeout).count()));
    request.setHeader(QNetworkRequest::UserAgentHeader, QString(appName_).remove(u' ') + u'/' + shortVersion_);
    reply_ = network_.get(request);
    return reply_;
}

void FeedUpdater::finishCheck(QNetworkReply* reply) {
    reply->deleteLater();
    reply_ = nullptr;
    environment_.settings->setValue(lastCheckTimeKey, QDateTime::currentDateTimeUtc());
    schedule();
    if (reply->error() != QNetworkReply::NoError)
        return fail(Status::Failure::network, failureDetail(*reply), false);
    std::optional<Appcast::Item> newest;
    try {
        newest = Appcast::parse(reply->readAll()).newest();
    } catch (const Appcast::ParseError& e) {
        return fail(Status::Failure::feed, QString::fromStdString(e.what()), false);
    }
    if (newest && Appcast::compareVersions(newest->version, version_) > 0) {
        setStatus(statusOf(Status::Kind::available, newest));
        showWindow();
        return;
    }
    setStatus(statusOf(userInitiated_ ? Status::Kind::upToDate : Status::Kind::idle));
}

void FeedUpdater::download() {
    if (busy() || !status_.item)
        return;
    const Appcast::Item item = *status_.item;
    Status downloading = statusOf(Status::Kind::downloading, item);
    downloading.total = item.length;
    setStatus(downloading);
    QNetworkReply* reply = get(item.url);
    connect(reply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64 total) {
        status_.received = received;
        if (total > 0)
            status_.total = total;
        emit statusChanged();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { finishDownload(reply); });
}

void FeedUpdater::finishDownload(QNetworkReply* reply) {
    reply->deleteLater();
    reply_ = nullptr;
    const Appcast::Item item = *status_.item;
    if (reply->error() != QNetworkReply::NoError)
        return fail(Status::Failure::network, failureDetail(*reply), true);
    const QByteArray archive = reply->readAll();
    // Refused before it touches the disk.
    if (!ArchiveSignature::verify(archive, item.edSignature, publicKey_)) {
        qCWarning(logUpdater) << "Refused" << item.url.toString() << ": its signature does not verify";
        setStatus(statusOf(Status::Kind::refused, item));
        return;
    }
    std::filesystem::path path;
    try {
        std::filesystem::create_directories(environment_.downloads);
        path = unusedPath(environment_.downloads, archiveName(item, appName_));
        writeFileAtomically(path, std::string_view(archive.constData(), std::size_t(archive.size())));
    } catch (const std::filesystem::filesystem_error& e) {
        return fail(Status::Failure::saving, QString::fromStdString(e.code().message()), true);
    }
    Status downloaded = statusOf(Status::Kind::downloaded, item);
    downloaded.savedPath = QString::fromStdString(path.string());
    setStatus(downloaded);
    revealDownload();
}

void FeedUpdater::cancel() {
    if (reply_) {
        disconnect(reply_, nullptr, this, nullptr);
        reply_->abort();
        reply_->deleteLater();
        reply_ = nullptr;
    }
    setStatus({});
    schedule();
}

void FeedUpdater::revealDownload() const {
    if (!status_.savedPath.isEmpty() && environment_.reveal)
        environment_.reveal(status_.savedPath);
}

void FeedUpdater::fail(Status::Failure failure, const QString& detail, bool whileDownloading) {
    qCInfo(logUpdater) << (whileDownloading ? "Update download failed:" : "Update check failed:") << detail;
    // An automatic check keeps its failures to the log.
    if (!userInitiated_ && !whileDownloading)
        return setStatus({});
    Status failed = statusOf(Status::Kind::failed, status_.item);
    failed.failure = failure;
    failed.whileDownloading = whileDownloading;
    failed.detail = detail;
    setStatus(failed);
}

void FeedUpdater::setStatus(Status status) {
    const bool wasBusy = busy();
    status_ = std::move(status);
    emit statusChanged();
    if (wasBusy != busy())
        emit canCheckForUpdatesChanged(!busy());
}

void FeedUpdater::showWindow() {
    if (!window_)
        window_ = new UpdateWindow(*this);
    window_->show();
    window_->raise();
    window_->activateWindow();
}

}  // namespace qw

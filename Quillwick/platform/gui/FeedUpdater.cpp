#include "Quillwick/platform/gui/FeedUpdater.h"

#include <algorithm>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLocale>
#include <QLoggingCategory>
#include <QNetworkReply>
#include <QNetworkRequest>

#include "Quillwick/platform/gui/ArchiveName.h"
#include "Quillwick/platform/gui/ArchiveSignature.h"
#include "Quillwick/platform/gui/BundleInfo.h"
#include "Quillwick/platform/gui/DesktopServices.h"
#include "Quillwick/platform/net/TransferGuard.h"
#include "helperkit/Base64.h"
#include "helperkit/SystemPaths.h"

namespace qw {
namespace {
Q_LOGGING_CATEGORY(logUpdater, "com.tarnmoor.quillwick.updater")

constexpr std::chrono::hours busyRetry{1};
constexpr qint64 archiveBuffer = qint64(1) << 20;

QString infoText(const PlistDictionary& info, std::string_view key) {
    return QString::fromStdString(bundleString(info, key).value_or(std::string()));
}

QString noAnswerWithin(std::chrono::milliseconds wait) {
    return QStringLiteral("no answer within %1 seconds").arg(std::chrono::duration_cast<std::chrono::seconds>(wait).count());
}

QString size(qint64 bytes) { return QLocale().formattedDataSize(bytes); }

QString largerThan(qint64 bytes) { return QStringLiteral("it is larger than %1").arg(size(bytes)); }

QString systemReason(int error) { return QString::fromStdString(std::generic_category().message(error)); }

// The whole chunk to the file, or the system's reason why not: QFile's buffered writes can lose errno
// and say "Unknown error" of a full disk.
std::optional<QString> writeAll(int fd, QByteArrayView data) {
    while (!data.isEmpty()) {
        const ssize_t written = ::write(fd, data.data(), size_t(data.size()));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return systemReason(written < 0 ? errno : ENOSPC);
        data = data.sliced(written);
    }
    return std::nullopt;
}

// Why the Downloads folder cannot hold anything, when it is a link to nothing: creating it would only
// say that it exists.
std::optional<QString> danglingLink(const std::filesystem::path& folder) {
    std::error_code error;
    if (!std::filesystem::is_symlink(folder, error) || std::filesystem::exists(folder, error))
        return std::nullopt;
    const auto target = std::filesystem::read_symlink(folder, error);
    return QStringLiteral("it is a link to %1, which doesn’t exist").arg(QString::fromStdString(target.string()));
}

constexpr const char* refusedRedirectProperty = "qwRefusedRedirect";

// Why a redirect may not be followed: only to the web, and never from HTTPS down to HTTP.
std::optional<QString> redirectRefusal(const QUrl& from, const QUrl& to) {
    if (to.scheme() != u"https" && to.scheme() != u"http")
        return QStringLiteral("to %1, which is not a web address").arg(to.toDisplayString());
    if (from.scheme() == u"https" && to.scheme() == u"http")
        return QStringLiteral("from HTTPS to HTTP, to %1").arg(to.toDisplayString());
    return std::nullopt;
}

FeedUpdater::Status statusOf(FeedUpdater::Status::Kind kind, std::optional<Appcast::Item> item = std::nullopt) {
    FeedUpdater::Status status;
    status.kind = kind;
    status.item = std::move(item);
    return status;
}

// Moves the file in `from` into the folder under the first of the names that nothing has yet; never
// over an existing file. Throws filesystem_error for anything but a name being taken.
std::filesystem::path placeUnderUnusedName(const std::filesystem::path& from, const std::filesystem::path& folder,
                                           const ArchiveName& name) {
    for (int n = 1; n < 10000; ++n) {
        const std::filesystem::path to = folder / name.candidate(n).toStdString();
        int placed = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
        if (placed != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // File systems without no-replace renames: look first.
            struct stat existing;
            if (::lstat(to.c_str(), &existing) == 0)
                errno = EEXIST;
            else if (errno == ENOENT)
                placed = ::rename(from.c_str(), to.c_str());
        }
        if (placed == 0)
            return to;
        if (errno != EEXIST)
            throw std::filesystem::filesystem_error("rename", from, to, std::error_code(errno, std::generic_category()));
    }
    throw std::filesystem::filesystem_error("rename", from, std::make_error_code(std::errc::file_exists));
}

}  // namespace

FeedUpdater::Environment FeedUpdater::Environment::standard() {
    Environment environment;
    environment.settings = std::make_unique<QSettings>("tarnmoor", "Quillwick");
    environment.downloads = SystemPaths::current().home() / "Downloads";
    environment.reveal = [](QWidget* window, const QString& path) { revealInFileManager(path, window); };
    environment.openLink = [](QWidget* window, const QUrl& url) { openWithDesktop(url, window); };
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
    // The transfer guard ends only a transfer that crawls: one that keeps crawling just above it would
    // keep a check for ever.
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        stopTransfer();
        checkEnded();
        fail(Status::Failure::network, noAnswerWithin(environment_.limits.checkDeadline), false);
    });
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

bool FeedUpdater::canCheckForUpdates() const {
    // An automatic check nobody sees yet can be taken over.
    return !busy() || (status_.kind == Status::Kind::checking && !userInitiated_);
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
        if (!userInitiated)
            return;
        // The user asked while an automatic check runs: its outcome is theirs now, whatever it is.
        if (status_.kind == Status::Kind::checking && !userInitiated_) {
            userInitiated_ = true;
            emit canCheckForUpdatesChanged(false);
        }
        showWindow();
        return;
    }
    userInitiated_ = userInitiated;
    setStatus(statusOf(Status::Kind::checking));
    if (userInitiated)
        showWindow();
    QNetworkReply* reply = get(feedURL_);
    deadline_.start(environment_.limits.checkDeadline);
    connect(reply, &QNetworkReply::downloadProgress, this, [this, reply](qint64 received, qint64 total) {
        if (endOnErrorStatus(reply, false))
            return;
        const qint64 limit = environment_.limits.feedBytes;
        if (received <= limit && total <= limit)
            return;
        stopTransfer();
        checkEnded();
        fail(Status::Failure::feed, largerThan(limit), false);
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { finishCheck(reply); });
}

QNetworkReply* FeedUpdater::get(const QUrl& url) {
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, QString(appName_).remove(u' ') + u'/' + shortVersion_);
    // Each redirect is judged here, so that a refusal can say which and why.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    QNetworkReply* reply = network_.get(request);
    reply_ = reply;
    // The reply already carries the new address here: the hop's start is kept apart.
    connect(reply, &QNetworkReply::redirected, reply, [reply, from = url](const QUrl& to) mutable {
        if (const auto refusal = redirectRefusal(from, to)) {
            reply->setProperty(refusedRedirectProperty, *refusal);
            reply->abort();
        } else {
            from = to;
            emit reply->redirectAllowed();
        }
    });
    guardTransfer(reply, {environment_.limits.stall, environment_.limits.bytesPerSecond});
    return reply;
}

std::pair<FeedUpdater::Status::Failure, QString> FeedUpdater::failureOf(QNetworkReply* reply) const {
    using Failure = Status::Failure;
    if (const QVariant refused = reply->property(refusedRedirectProperty); refused.isValid())
        return {Failure::redirect, refused.toString()};
    // Our own aborts never get here.
    if (transferStalled(reply) || reply->error() == QNetworkReply::OperationCanceledError)
        return {Failure::network, noAnswerWithin(environment_.limits.stall)};
    if (reply->error() == QNetworkReply::TooManyRedirectsError)
        return {Failure::redirect, reply->errorString()};
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // Qt refuses a redirect away from the web before asking us.
    if (const QUrl to = reply->header(QNetworkRequest::LocationHeader).toUrl();
        status.toInt() >= 300 && status.toInt() < 400 && to.isValid()) {
        const QUrl target = reply->url().resolved(to);
        return {Failure::redirect, redirectRefusal(reply->url(), target).value_or(target.toDisplayString())};
    }
    if (status.isValid() && status.toInt() >= 300) {
        const QString reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString().trimmed();
        return {Failure::server, reason.isEmpty() ? QStringLiteral("status %1").arg(status.toInt())
                                                  : QStringLiteral("status %1, “%2”").arg(status.toInt()).arg(reason.left(80))};
    }
    // Qt tells a bomb or a corrupt stream apart from other protocol failures only in its text.
    if (reply->errorString().startsWith(u"Decompression failed"))
        return {Failure::undecodable, QStringLiteral("it couldn’t be decompressed")};
    return {Failure::network, reply->errorString()};
}

bool FeedUpdater::endOnErrorStatus(QNetworkReply* reply, bool whileDownloading) {
    if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() < 400)
        return false;
    const auto [failure, detail] = failureOf(reply);
    stopTransfer();
    if (!whileDownloading)
        checkEnded();
    fail(failure, detail, whileDownloading);
    return true;
}

void FeedUpdater::stopTransfer() {
    deadline_.stop();
    if (reply_) {
        disconnect(reply_, nullptr, this, nullptr);
        reply_->abort();
        reply_->deleteLater();
        reply_ = nullptr;
    }
    partial_.reset();
}

void FeedUpdater::checkEnded() {
    deadline_.stop();
    environment_.settings->setValue(lastCheckTimeKey, QDateTime::currentDateTimeUtc());
    schedule();
}

void FeedUpdater::finishCheck(QNetworkReply* reply) {
    reply->deleteLater();
    reply_ = nullptr;
    checkEnded();
    if (reply->error() != QNetworkReply::NoError) {
        const auto [failure, detail] = failureOf(reply);
        return fail(failure, detail, false);
    }
    const QByteArray feed = reply->read(environment_.limits.feedBytes + 1);
    if (feed.size() > environment_.limits.feedBytes)
        return fail(Status::Failure::feed, largerThan(environment_.limits.feedBytes), false);
    std::optional<Appcast::Item> newest;
    try {
        newest = Appcast::parse(feed).newest();
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
    // The archive goes straight to a file beside its final place, so that neither memory nor a rename
    // across file systems limits it.
    const QString folder = QString::fromStdString(environment_.downloads.string());
    if (const auto dangling = danglingLink(environment_.downloads))
        return fail(Status::Failure::saving, folder + QStringLiteral(": ") + *dangling, true);
    std::error_code error;
    std::filesystem::create_directories(environment_.downloads, error);
    partial_ = std::make_unique<QTemporaryFile>(folder + QStringLiteral("/.download-XXXXXX"));
    if (error || !partial_->open()) {
        const QString reason = error ? QString::fromStdString(error.message()) : partial_->errorString();
        partial_.reset();
        return fail(Status::Failure::saving, folder + QStringLiteral(": ") + reason, true);
    }
    // A length from the feed can only lower the cap.
    archiveLimit_ = item.length > 0 ? std::min(item.length, environment_.limits.archiveBytes) : environment_.limits.archiveBytes;
    QNetworkReply* reply = get(item.url);
    // Unbounded, the network thread would queue up whatever the disk is slower to take.
    reply->setReadBufferSize(archiveBuffer);
    connect(reply, &QNetworkReply::readyRead, this, &FeedUpdater::receiveArchive);
    connect(reply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64 total) {
        status_.received = received;
        if (total > 0)
            status_.total = total;
        emit statusChanged();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { finishDownload(reply); });
}

void FeedUpdater::receiveArchive() {
    if (endOnErrorStatus(reply_, true))
        return;
    const qint64 announced = reply_->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    const QByteArray chunk = reply_->readAll();
    if (announced > archiveLimit_ || partial_->size() + chunk.size() > archiveLimit_) {
        stopTransfer();
        return fail(Status::Failure::tooLarge,
                    archiveLimit_ == status_.item->length
                        ? QStringLiteral("it is larger than the %1 the update feed gives").arg(size(archiveLimit_))
                        : largerThan(archiveLimit_),
                    true);
    }
    if (const auto reason = writeAll(partial_->handle(), chunk)) {
        const QString detail = QString::fromStdString(environment_.downloads.string()) + QStringLiteral(": ") + *reason;
        stopTransfer();
        fail(Status::Failure::saving, detail, true);
    }
}

void FeedUpdater::finishDownload(QNetworkReply* reply) {
    if (reply->error() == QNetworkReply::NoError)
        receiveArchive();
    if (!reply_)  // stopped while taking in the rest
        return;
    reply->deleteLater();
    reply_ = nullptr;
    const std::unique_ptr<QTemporaryFile> partial = std::move(partial_);
    const Appcast::Item item = *status_.item;
    if (reply->error() != QNetworkReply::NoError) {
        const auto [failure, detail] = failureOf(reply);
        return fail(failure, detail, true);
    }
    const QString folder = QString::fromStdString(environment_.downloads.string());
    if (!partial->flush())
        return fail(Status::Failure::saving, folder + QStringLiteral(": ") + partial->errorString(), true);
    // Refused before it gets a name of its own; the temporary file goes with `partial`.
    if (!ArchiveSignature::verifyFile(partial->fileName(), item.edSignature, publicKey_)) {
        qCWarning(logUpdater) << "Refused" << item.url.toString() << ": its signature does not verify";
        setStatus(statusOf(Status::Kind::refused, item));
        return;
    }
    std::filesystem::path path;
    try {
        partial->setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
        // Named after where it finally came from, after any redirect.
        path = placeUnderUnusedName(partial->fileName().toStdString(), environment_.downloads,
                                    ArchiveName::from(reply->url(), appName_ + u' ' + item.shortVersion));
        partial->setAutoRemove(false);
    } catch (const std::filesystem::filesystem_error& e) {
        return fail(Status::Failure::saving, folder + QStringLiteral(": ") + QString::fromStdString(e.code().message()), true);
    }
    Status downloaded = statusOf(Status::Kind::downloaded, item);
    downloaded.savedPath = QString::fromStdString(path.string());
    setStatus(downloaded);
    revealDownload();
}

void FeedUpdater::cancel() {
    stopTransfer();
    setStatus({});
    schedule();
}

void FeedUpdater::revealDownload() const {
    if (!status_.savedPath.isEmpty() && environment_.reveal)
        environment_.reveal(window_, status_.savedPath);
}

void FeedUpdater::openLink(QWidget* window, const QUrl& url) const {
    if (environment_.openLink)
        environment_.openLink(window, url);
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
    const bool could = canCheckForUpdates();
    status_ = std::move(status);
    emit statusChanged();
    if (could != canCheckForUpdates())
        emit canCheckForUpdatesChanged(!could);
}

void FeedUpdater::showWindow() {
    if (!window_)
        window_ = new UpdateWindow(*this);
    window_->show();
    window_->raise();
    window_->activateWindow();
}

}  // namespace qw

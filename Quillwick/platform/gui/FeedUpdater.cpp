#include "Quillwick/platform/gui/FeedUpdater.h"

#include <algorithm>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <QFileInfo>
#include <QLocale>
#include <QLoggingCategory>
#include <QNetworkReply>
#include <QNetworkRequest>

#include "Quillwick/platform/gui/ArchiveSignature.h"
#include "Quillwick/platform/gui/BundleInfo.h"
#include "Quillwick/ui/RevealFile.h"
#include "helperkit/Base64.h"
#include "helperkit/SystemPaths.h"

namespace qw {
namespace {
Q_LOGGING_CATEGORY(logUpdater, "com.tarnmoor.quillwick.updater")

constexpr std::chrono::hours busyRetry{1};
constexpr qsizetype nameMax = 255;  // bytes in one file name
constexpr qint64 archiveBuffer = qint64(1) << 20;

QString infoText(const PlistDictionary& info, std::string_view key) {
    return QString::fromStdString(bundleString(info, key).value_or(std::string()));
}

QString noAnswerWithin(std::chrono::milliseconds wait) {
    return QStringLiteral("no answer within %1 seconds").arg(std::chrono::duration_cast<std::chrono::seconds>(wait).count());
}

QString size(qint64 bytes) { return QLocale().formattedDataSize(bytes); }

QString largerThan(qint64 bytes) { return QStringLiteral("it is larger than %1").arg(size(bytes)); }

FeedUpdater::Status statusOf(FeedUpdater::Status::Kind kind, std::optional<Appcast::Item> item = std::nullopt) {
    FeedUpdater::Status status;
    status.kind = kind;
    status.item = std::move(item);
    return status;
}

// A name from a feed or a URL as one plain file name: no slashes or control characters, not hidden,
// never "." or "..".
QString cleanName(const QString& name) {
    QString clean;
    for (const QChar c : name)
        if (c.category() != QChar::Other_Control)
            clean += c == u'/' ? u'-' : c;
    clean = clean.trimmed();
    while (clean.startsWith(u'.'))
        clean.remove(0, 1);
    return clean.trimmed();
}

// A file name split before its extension, which a numbered name keeps at the end.
struct FileName {
    QString base, suffix;
};

// The archive's own name from the URL it came from, unless that would be hidden or no name at all. A
// name made up of the version has no extension: its last dot belongs to the version.
FileName archiveName(const Appcast::Item& item, const QUrl& from, const QString& appName) {
    const QString name = from.fileName(QUrl::FullyDecoded);
    if (const QString clean = name.startsWith(u'.') ? QString() : cleanName(name); !clean.isEmpty()) {
        const QString suffix = QFileInfo(clean).suffix();
        if (suffix.isEmpty() || suffix.toUtf8().size() > 32)
            return {clean, {}};
        return {clean.first(clean.size() - suffix.size() - 1), u'.' + suffix};
    }
    const QString clean = cleanName(appName + u' ' + item.shortVersion);
    return {clean.isEmpty() ? QStringLiteral("Update") : clean, {}};
}

// "x.zip", then "x 2.zip", "x 3.zip"…, the base shortened until the whole fits the file system.
QString candidateName(const FileName& name, int n) {
    QString base = name.base;
    const QString tail = (n == 1 ? QString() : QStringLiteral(" %1").arg(n)) + name.suffix;
    while (!base.isEmpty() && (base + tail).toUtf8().size() > nameMax)
        base.chop(base.back().isLowSurrogate() && base.size() > 1 ? 2 : 1);
    return base + tail;
}

// Moves the file in `from` into the folder under the first of the names that nothing has yet; never
// over an existing file. Throws filesystem_error for anything but a name being taken.
std::filesystem::path placeUnderUnusedName(const std::filesystem::path& from, const std::filesystem::path& folder,
                                           const FileName& name) {
    for (int n = 1; n < 10000; ++n) {
        const std::filesystem::path to = folder / candidateName(name, n).toStdString();
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
    environment.reveal = [](QWidget* window, const QString& path) { revealFile(window, path); };
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
    // The transfer timeout only counts silence: a server that trickles would keep a check for ever.
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
    deadline_.start(environment_.limits.checkDeadline);
    connect(reply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64 total) {
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
    request.setTransferTimeout(int(environment_.limits.stall.count()));
    request.setHeader(QNetworkRequest::UserAgentHeader, QString(appName_).remove(u' ') + u'/' + shortVersion_);
    reply_ = network_.get(request);
    return reply_;
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
    // Our own cancels never get here, so a cancelled transfer is one that stalled.
    if (reply->error() == QNetworkReply::OperationCanceledError)
        return fail(Status::Failure::network, noAnswerWithin(environment_.limits.stall), false);
    if (reply->error() != QNetworkReply::NoError)
        return fail(Status::Failure::network, reply->errorString(), false);
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
    std::error_code error;
    std::filesystem::create_directories(environment_.downloads, error);
    partial_ = std::make_unique<QTemporaryFile>(folder + QStringLiteral("/.download-XXXXXX"));
    if (error || !partial_->open()) {
        const QString reason = error ? QString::fromStdString(error.message()) : partial_->errorString();
        partial_.reset();
        return fail(Status::Failure::saving, folder + QStringLiteral(": ") + reason, true);
    }
    archiveLimit_ = item.length > 0 ? item.length : environment_.limits.archiveBytes;
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
    const qint64 announced = reply_->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    const QByteArray chunk = reply_->readAll();
    if (announced > archiveLimit_ || partial_->size() + chunk.size() > archiveLimit_) {
        stopTransfer();
        return fail(Status::Failure::tooLarge,
                    status_.item->length > 0
                        ? QStringLiteral("it is larger than the %1 the update feed gives").arg(size(archiveLimit_))
                        : largerThan(archiveLimit_),
                    true);
    }
    if (partial_->write(chunk) != chunk.size()) {
        const QString detail = QString::fromStdString(environment_.downloads.string()) + QStringLiteral(": ") + partial_->errorString();
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
    if (reply->error() == QNetworkReply::OperationCanceledError)
        return fail(Status::Failure::network, noAnswerWithin(environment_.limits.stall), true);
    if (reply->error() != QNetworkReply::NoError)
        return fail(Status::Failure::network, reply->errorString(), true);
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
                                    archiveName(item, reply->url(), appName_));
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

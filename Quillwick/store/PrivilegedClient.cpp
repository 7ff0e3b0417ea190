#include "Quillwick/store/PrivilegedClient.h"

#include <QLoggingCategory>
#include <QPromise>
#include <QThreadPool>
#include <QUuid>
#include <QtConcurrent>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "Quillwick/launchd/Launchctl.h"
#include "Quillwick/platform/ApplicationSupport.h"
#include "Quillwick/platform/HelperConnection.h"
#include "Quillwick/store/AuditLog.h"
#include "helperkit/Subprocess.h"
#include "helperkit/SystemPaths.h"
#include "helperkit/Text.h"

Q_LOGGING_CATEGORY(privilegedLog, "com.tarnmoor.quillwick.privileged")

namespace qw {

namespace fs = std::filesystem;

namespace {

// Runs `work` on the pool; its exception, whatever its type, travels in the future unchanged.
template <typename T, typename Work>
QFuture<T> runAsync(Work work) {
    return QtConcurrent::run([work = std::move(work)](QPromise<T>& promise) mutable {
        try {
            if constexpr (std::is_void_v<T>)
                work();
            else
                promise.addResult(work());
        } catch (...) {
            promise.setException(std::current_exception());
        }
    });
}

[[noreturn]] void fileFailure(const char* what, const fs::path& path, int error) {
    throw fs::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

// Exclusive and 0600 from the first moment: the request is never readable by anyone else, and a name
// planted in advance is refused rather than written through.
void writeRequestFile(const fs::path& file, const std::string& bytes) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) fileFailure("Cannot create the request file", file, errno);
    const auto abandon = [&](int error) {
        ::close(fd);
        ::unlink(file.c_str());
        fileFailure("Cannot write the request file", file, error);
    };
    if (::fchmod(fd, 0600) != 0) abandon(errno);
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) abandon(errno);
        written += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) abandon(errno);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(file.c_str());
        fileFailure("Cannot write the request file", file, error);
    }
}

// launchd's refusal of a user who may not change the system domain, said in words.
void changeService(const std::function<void()>& change, const char* refusal) {
    try {
        change();
    } catch (const ManagedService::Error& error) {
        if (error.notPermitted) throw ManagedService::Error(refusal, true);
        throw;
    }
}

HelperResponse mapOneShotResult(const Subprocess::Result& result) {
    const std::string output(Text::trimmed(result.standardOutput, " \t\r\n"));
    if (result.exitStatus != 0) {
        if (result.standardError.find("-128") != std::string::npos ||
            result.standardError.find("User canceled") != std::string::npos)
            throw PrivilegedError::cancelled();
        // The helper exits 1 when it refuses; its reply (and so its message) is still on standard output.
        if (!output.empty()) {
            try {
                return HelperResponse::fromJson(output);
            } catch (const HelperDecodingError&) {
            }
        }
        throw PrivilegedError::elevationFailed(result.message());
    }
    if (output.empty()) throw PrivilegedError::elevationFailed("The helper produced no reply.");
    return HelperResponse::fromJson(output);
}

}  // namespace

PrivilegedClient::PrivilegedClient(QObject* parent) : PrivilegedClient(Configuration{}, parent) {}

PrivilegedClient::PrivilegedClient(Configuration configuration, QObject* parent)
    : QObject(parent),
      bundle_(configuration.bundle ? configuration.bundle : SystemPaths::applicationBundle()),
      listener_(std::move(configuration.listener)),
      auditLog_(AuditLog::load(ApplicationSupport::auditFile())) {}

PrivilegedClient::~PrivilegedClient() = default;

std::optional<ManagedService> PrivilegedClient::daemonService() const {
    if (!bundle_) return std::nullopt;
    return ManagedService::daemon(*bundle_, std::string(HelperService::plistName));
}

ManagedService::Status PrivilegedClient::helperStatus() const {
    const auto service = daemonService();
    return service ? service->status() : ManagedService::Status::notFound;
}

QFuture<HelperResponse> PrivilegedClient::perform(const HelperRequest& request) {
    QFuture<HelperResponse> reply;
    try {
        reply = helperStatus() == ManagedService::Status::enabled ? overSocket(request) : oneShot(request);
    } catch (...) {
        QPromise<HelperResponse> failed;
        failed.start();
        failed.setException(std::current_exception());
        failed.finish();
        return failed.future();
    }
    const QString action = QString::fromStdString(request.reason);
    return reply.then(this, [this, action](HelperResponse response) {
        AuditEntry entry;
        entry.action = action;
        if (response.message) entry.detail = QString::fromStdString(*response.message);
        entry.succeeded = response.succeeded;
        record(entry);
        return response;
    });
}

QFuture<HelperResponse> PrivilegedClient::overSocket(const HelperRequest& request) {
    if (!connection_ || connection_->isBroken()) {
        // Off the main thread, while nothing listens: launchd has the helper running, or will start it
        // again once its throttle is over.
        std::function<bool()> helperComing;
        if (const auto service = daemonService()) {
            helperComing = [target = ServiceTarget{service->domain(), service->label()}] {
                try {
                    const auto state = Launchctl().print(target);
                    return state && (state->pid || (state->state == "spawn scheduled" && !state->isThrottled()));
                } catch (const Subprocess::Failure&) {
                    return false;
                }
            };
        }
        connection_ = std::make_shared<HelperConnection>(
            SystemPaths::current().helperSocket(),
            listener_ ? *listener_ : HelperConnection::helperRequirement(bundle_.value_or(fs::path())),
            std::move(helperComing));
    }
    auto connection = connection_;
    std::string bytes = request.jsonData();
    QFuture<HelperResponse> reply = runAsync<HelperResponse>([connection, bytes = std::move(bytes)] {
        std::string answer;
        try {
            answer = connection->exchange(bytes);
        } catch (const HelperConnection::Unreachable& error) {
            throw PrivilegedError::helperUnreachable(error.what());
        }
        return HelperResponse::fromJson(answer);
    });
    // A broken connection is dropped on the main thread; the next request makes a fresh one.
    return reply.then(this, [this, connection](QFuture<HelperResponse> done) {
        if (connection_ == connection && connection->isBroken()) connection_.reset();
        return done.result();
    });
}

QFuture<HelperResponse> PrivilegedClient::oneShot(const HelperRequest& request) {
    const fs::path helper = bundle_.value_or(fs::path()) / "Contents" / "MacOS" / "QuillwickHelper";
    std::error_code ec;
    if (!bundle_ || !fs::is_regular_file(helper, ec) || ::access(helper.c_str(), X_OK) != 0)
        throw PrivilegedError::helperMissing();

    const fs::path folder = ApplicationSupport::ensureRequestsFolder();
    const fs::path requestFile =
        folder / (QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString() + ".json");
    writeRequestFile(requestFile, request.jsonData());

    const std::string script = oneShotScript(helper, requestFile, request.reason);
    const std::string osascript = SystemPaths::current().osascript().string();
    return runAsync<HelperResponse>([osascript, script, requestFile] {
        struct Removal {
            fs::path file;
            ~Removal() {
                std::error_code ignored;
                fs::remove(file, ignored);
            }
        } removal{requestFile};
        return mapOneShotResult(Subprocess::run(osascript, {"-e", script}));
    });
}

void PrivilegedClient::installHelper() {
    const auto service = daemonService();
    if (!service) throw ManagedService::Error("The app bundle could not be found.");
    changeService([&] { service->registerService(); }, "Installing the helper needs an administrator.");
    qCInfo(privilegedLog) << "registered the privileged helper";
    AuditEntry entry;
    entry.action = QStringLiteral("Installed the privileged helper");
    entry.succeeded = true;
    record(entry);
}

QFuture<void> PrivilegedClient::removeHelper() {
    const auto service = daemonService();
    QFuture<void> done = runAsync<void>([service] {
        if (!service) throw ManagedService::Error("The app bundle could not be found.");
        changeService([&] { service->unregisterService(); }, "Removing the helper needs an administrator.");
    });
    return done.then(this, [this] {
        if (connection_) connection_->invalidate();
        connection_.reset();
        qCInfo(privilegedLog) << "unregistered the privileged helper";
        AuditEntry entry;
        entry.action = QStringLiteral("Removed the privileged helper");
        entry.succeeded = true;
        record(entry);
    });
}

void PrivilegedClient::record(const AuditEntry& entry) {
    change([&entry](QList<AuditEntry> entries) {
        entries.prepend(entry);
        if (entries.size() > AuditLog::maxEntries) entries.resize(AuditLog::maxEntries);
        return entries;
    });
}

void PrivilegedClient::clearAuditLog() {
    change([](const QList<AuditEntry>&) { return QList<AuditEntry>{}; });
}

void PrivilegedClient::change(const std::function<QList<AuditEntry>(QList<AuditEntry>)>& edit) {
    // Through the file, which another instance of the application may have written since: the list shown
    // is the file as written. Without the file, the change is kept in memory alone.
    const auto update = AuditLog::update(ApplicationSupport::auditFile(), edit);
    QList<AuditEntry> entries = update ? update->entries : edit(auditLog_);
    if (!update || !update->saved) qCWarning(privilegedLog) << "could not save the audit log";
    if (entries == auditLog_) return;
    auditLog_ = std::move(entries);
    emit auditLogChanged();
}

std::string PrivilegedClient::shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string PrivilegedClient::appleScriptEscaped(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '"')
            escaped += "\\\"";
        else
            escaped += c;
    }
    return escaped;
}

std::string PrivilegedClient::oneShotScript(const fs::path& helper, const fs::path& requestFile,
                                            const std::string& reason) {
    const std::string command = shellQuoted(helper.string()) + " one-shot " + shellQuoted(requestFile.string());
    return "do shell script \"" + appleScriptEscaped(command) +
           "\" with administrator privileges with prompt \"Quillwick needs your password to " +
           appleScriptEscaped(reason) + ".\"";
}

}  // namespace qw

// PrivilegedClient: the application's only way to get something done as root, and the keeper of the
// audit log. Main thread only. A request goes over the helper daemon's socket when the daemon is
// registered and enabled, else once through the administrator prompt (osascript running the bundle's
// helper in one-shot mode); the road is chosen from the daemon's status on every call, with no fallback.
//
// Asynchronous calls return a QFuture that finishes on the main thread, after the audit log has been
// updated. Errors travel in the future as the original exception (PrivilegedError, a filesystem_error of
// the request file, Subprocess::Failure, HelperDecodingError): handle them with
// `.onFailed(context, [](const PrivilegedError& e) { ... })` or by catching around `future.result()`.
// A reply whose `succeeded` is false is a result, not an error. Do not block the main thread waiting on
// the future: it finishes through the main thread's event loop.
#pragma once

#include <QFuture>
#include <QList>
#include <QObject>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "Quillwick/platform/ManagedService.h"
#include "Quillwick/store/AuditEntry.h"
#include "Quillwick/store/PrivilegedError.h"
#include "helperkit/HelperProtocol.h"
#include "helperkit/HelperSocket.h"

namespace qw {

class HelperConnection;

class PrivilegedClient : public QObject {
    Q_OBJECT

public:
    struct Configuration {
        // The application bundle; by default the one the running program lies in.
        std::optional<std::filesystem::path> bundle;
        // Who may listen on the helper's socket; by default the bundle's helper run by root.
        std::optional<HelperSocket::PeerRequirement> listener;
    };

    // Loads the audit log (an empty one when the file is missing or unreadable); writes nothing and
    // opens no connection.
    explicit PrivilegedClient(QObject* parent = nullptr);
    PrivilegedClient(Configuration configuration, QObject* parent = nullptr);
    ~PrivilegedClient() override;

    QFuture<HelperResponse> perform(const HelperRequest& request);

    // Registers the helper daemon; throws ManagedService::Error, recording nothing then.
    void installHelper();
    // Unregisters it off the main thread; drops the connection.
    QFuture<void> removeHelper();

    const QList<AuditEntry>& auditLog() const { return auditLog_; }
    // Each goes through the audit file under its lock, keeping what other instances wrote there; the
    // list then is the file as written.
    void record(const AuditEntry& entry);
    void clearAuditLog();

    // Each reads the daemon's status afresh.
    ManagedService::Status helperStatus() const;
    bool isHelperEnabled() const { return helperStatus() == ManagedService::Status::enabled; }
    bool helperNeedsApproval() const { return helperStatus() == ManagedService::Status::requiresApproval; }
    bool isHelperRegistered() const {
        const auto status = helperStatus();
        return status == ManagedService::Status::enabled || status == ManagedService::Status::requiresApproval;
    }

    // The command line and AppleScript text of the one-shot road (exposed for their quoting rules).
    static std::string shellQuoted(const std::string& text);
    static std::string appleScriptEscaped(const std::string& text);
    static std::string oneShotScript(const std::filesystem::path& helper, const std::filesystem::path& requestFile,
                                     const std::string& reason);

signals:
    void auditLogChanged();

private:
    std::optional<ManagedService> daemonService() const;
    QFuture<HelperResponse> overSocket(const HelperRequest& request);
    QFuture<HelperResponse> oneShot(const HelperRequest& request);
    // Applies one change to the audit log and the file.
    void change(const std::function<QList<AuditEntry>(QList<AuditEntry>)>& edit);

    std::optional<std::filesystem::path> bundle_;
    std::optional<HelperSocket::PeerRequirement> listener_;
    std::shared_ptr<HelperConnection> connection_;
    QList<AuditEntry> auditLog_;
};

}  // namespace qw

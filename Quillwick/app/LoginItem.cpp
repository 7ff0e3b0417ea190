#include "Quillwick/app/LoginItem.h"

#include <QLoggingCategory>

#include "Quillwick/platform/ManagedService.h"
#include "helperkit/SystemPaths.h"

namespace qw::LoginItem {
namespace {
Q_LOGGING_CATEGORY(logLoginItem, "com.tarnmoor.quillwick.loginitem")

std::optional<ManagedService> service() {
    const auto bundle = SystemPaths::applicationBundle();
    if (!bundle)
        return std::nullopt;
    return ManagedService::loginItem(*bundle, "com.tarnmoor.quillwick.plist");
}
}  // namespace

Status status() {
    if (const auto s = service())
        return Status(int(s->status()));
    return Status::notFound;
}

void setEnabled(bool on) {
    const auto s = service();
    const Status now = s ? Status(int(s->status())) : Status::notFound;
    const bool registered = now == Status::enabled || now == Status::requiresApproval;
    if (on) {
        if (registered)
            return;
        if (!s)
            throw std::runtime_error("The login item could not be found.");
        s->registerService();
        return;
    }
    if (!registered || !s)
        return;
    try {
        s->unregisterService();
    } catch (const std::exception& e) {
        qCCritical(logLoginItem, "Could not unregister the login item: %s", e.what());
        throw;
    }
}

}  // namespace qw::LoginItem

// One record of the audit log: what was asked of the helper (or the helper installed or removed), when,
// the helper's message, and whether it succeeded.
#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QUuid>

#include <optional>

namespace qw {

struct AuditEntry {
    QUuid id = QUuid::createUuid();
    QDateTime date = QDateTime::currentDateTimeUtc();
    QString action;
    std::optional<QString> detail;
    bool succeeded = false;

    bool operator==(const AuditEntry&) const = default;

    // "id" (upper-case UUID text), "date" (seconds since 2001-01-01 00:00:00 UTC), "action", "detail"
    // (left out when none), "succeeded".
    QJsonObject toJson() const;
    // Nothing when a required key is missing or of the wrong type.
    static std::optional<AuditEntry> fromJson(const QJsonObject& object);
};

}  // namespace qw

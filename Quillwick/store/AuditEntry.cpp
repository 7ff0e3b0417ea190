#include "Quillwick/store/AuditEntry.h"

#include <QJsonValue>

#include <cmath>

namespace qw {

namespace {

// The reference date of the file's date numbers.
const QDateTime& referenceDate() {
    static const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    return reference;
}

}  // namespace

QJsonObject AuditEntry::toJson() const {
    QJsonObject object;
    object.insert(QStringLiteral("id"), id.toString(QUuid::WithoutBraces).toUpper());
    object.insert(QStringLiteral("date"), double(referenceDate().msecsTo(date)) / 1000.0);
    object.insert(QStringLiteral("action"), action);
    if (detail) object.insert(QStringLiteral("detail"), *detail);
    object.insert(QStringLiteral("succeeded"), succeeded);
    return object;
}

std::optional<AuditEntry> AuditEntry::fromJson(const QJsonObject& object) {
    const QJsonValue id = object.value(QStringLiteral("id"));
    const QJsonValue date = object.value(QStringLiteral("date"));
    const QJsonValue action = object.value(QStringLiteral("action"));
    const QJsonValue detail = object.value(QStringLiteral("detail"));
    const QJsonValue succeeded = object.value(QStringLiteral("succeeded"));
    if (!id.isString() || !date.isDouble() || !action.isString() || !succeeded.isBool()) return std::nullopt;
    if (!detail.isUndefined() && !detail.isNull() && !detail.isString()) return std::nullopt;
    const QUuid uuid = QUuid::fromString(id.toString());
    // ±10 000 years keeps the date arithmetic far from overflow.
    const double seconds = date.toDouble();
    if (uuid.isNull() || !std::isfinite(seconds) || std::fabs(seconds) > 3.2e11) return std::nullopt;

    AuditEntry entry;
    entry.id = uuid;
    entry.date = referenceDate().addMSecs(static_cast<qint64>(std::llround(seconds * 1000.0)));
    entry.action = action.toString();
    if (detail.isString()) entry.detail = detail.toString();
    entry.succeeded = succeeded.toBool();
    return entry;
}

}  // namespace qw

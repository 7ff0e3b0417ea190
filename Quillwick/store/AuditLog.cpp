#include "Quillwick/store/AuditLog.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <nlohmann/json.hpp>

#include "helperkit/AtomicFile.h"

namespace qw::AuditLog {

namespace fs = std::filesystem;

namespace {

// An audit file of 200 entries is a few tens of kilobytes; anything far larger is not ours.
constexpr qint64 maxFileSize = 16 * 1024 * 1024;

}  // namespace

QByteArray encode(const QList<AuditEntry>& entries) {
    // The keys in the record's own order (QJsonObject would sort them).
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (const AuditEntry& entry : entries) {
        const QJsonObject object = entry.toJson();
        nlohmann::ordered_json record;
        record["id"] = object.value(QStringLiteral("id")).toString().toStdString();
        record["date"] = object.value(QStringLiteral("date")).toDouble();
        record["action"] = entry.action.toStdString();
        if (entry.detail) record["detail"] = entry.detail->toStdString();
        record["succeeded"] = entry.succeeded;
        array.push_back(std::move(record));
    }
    // Replacing invalid UTF-16 halves keeps one odd action text from making the whole log unsavable.
    return QByteArray::fromStdString(array.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
}

std::optional<QList<AuditEntry>> decode(const QByteArray& bytes) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray()) return std::nullopt;
    QList<AuditEntry> entries;
    for (const QJsonValue& value : document.array()) {
        if (!value.isObject()) return std::nullopt;
        auto entry = AuditEntry::fromJson(value.toObject());
        if (!entry) return std::nullopt;
        entries.append(std::move(*entry));
    }
    return entries;
}

QList<AuditEntry> load(const fs::path& file) {
    std::error_code ec;
    if (!fs::is_regular_file(file, ec) || fs::file_size(file, ec) > maxFileSize || ec) return {};
    QFile input(QString::fromStdString(file.string()));
    if (!input.open(QIODevice::ReadOnly)) return {};
    return decode(input.readAll()).value_or(QList<AuditEntry>{});
}

bool save(const fs::path& file, const QList<AuditEntry>& entries) {
    try {
        std::error_code ec;
        fs::create_directories(file.parent_path(), ec);
        const QByteArray bytes = encode(entries);
        writeFileAtomically(file, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace qw::AuditLog

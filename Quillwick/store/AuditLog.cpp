#include "Quillwick/store/AuditLog.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include "helperkit/AtomicFile.h"

namespace qw::AuditLog {

namespace fs = std::filesystem;

namespace {

// An audit file of 200 entries is a few tens of kilobytes; anything far larger is not ours.
constexpr qint64 maxFileSize = 16 * 1024 * 1024;

}  // namespace

QByteArray encode(const QList<AuditEntry>& entries) {
    QJsonArray array;
    for (const AuditEntry& entry : entries) array.append(entry.toJson());
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
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

#include "Quillwick/store/AuditLog.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

namespace {

// The file's entries; an empty list when it is missing, nothing when it is there but cannot be read.
std::optional<QList<AuditEntry>> read(const fs::path& file) {
    struct stat info {};
    if (::lstat(file.c_str(), &info) != 0) {
        if (errno == ENOENT) return QList<AuditEntry>{};
        return std::nullopt;
    }
    std::error_code ec;
    if (!fs::is_regular_file(file, ec) || fs::file_size(file, ec) > maxFileSize || ec) return std::nullopt;
    QFile input(QString::fromStdString(file.string()));
    if (!input.open(QIODevice::ReadOnly)) return std::nullopt;
    return decode(input.readAll());
}

// Moves an unreadable file out of the way under a name of its own; false when it could not be moved.
bool keepAside(const fs::path& file) {
    const std::string stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-ddTHHmmss")).toStdString() + "Z";
    for (int n = 1; n < 100; ++n) {
        const std::string suffix = n == 1 ? std::string() : "-" + std::to_string(n);
        const fs::path aside =
            file.parent_path() / (file.stem().string() + "-unreadable-" + stamp + suffix + file.extension().string());
        std::error_code ec;
        if (fs::exists(fs::symlink_status(aside, ec))) continue;
        return ::rename(file.c_str(), aside.c_str()) == 0;
    }
    return false;
}

}  // namespace

QList<AuditEntry> load(const fs::path& file) { return read(file).value_or(QList<AuditEntry>{}); }

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

std::optional<Update> update(const fs::path& file, const std::function<QList<AuditEntry>(QList<AuditEntry>)>& change) {
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    // The folder is the lock: the file itself is replaced by every write.
    const int folder = ::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return std::nullopt;
    while (::flock(folder, LOCK_EX) != 0) {
        if (errno != EINTR) {
            ::close(folder);
            return std::nullopt;
        }
    }
    Update result;
    const auto current = read(file);
    const bool writable = current || keepAside(file);
    result.entries = change(current.value_or(QList<AuditEntry>{}));
    result.saved = writable && save(file, result.entries);
    ::close(folder);  // releases the lock
    return result;
}

}  // namespace qw::AuditLog

// The audit file: a JSON array of audit entries, newest first. Reading is all or nothing: one bad entry
// makes the whole file unreadable, and an unreadable file reads as an empty log.
#pragma once

#include <QByteArray>
#include <QList>

#include <filesystem>

#include "Quillwick/store/AuditEntry.h"

namespace qw::AuditLog {

inline constexpr qsizetype maxEntries = 200;

QByteArray encode(const QList<AuditEntry>& entries);
// Nothing when the bytes are not an array of valid entries.
std::optional<QList<AuditEntry>> decode(const QByteArray& bytes);

// Missing, unreadable or undecodable: empty. Creates nothing.
QList<AuditEntry> load(const std::filesystem::path& file);
// Creates the folder when needed and replaces the file atomically; false when that failed.
bool save(const std::filesystem::path& file, const QList<AuditEntry>& entries);

}  // namespace qw::AuditLog

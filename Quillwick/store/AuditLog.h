// The audit file: a JSON array of audit entries, newest first. Reading is all or nothing: one bad entry
// makes the whole file unreadable, and an unreadable file reads as an empty log; it is kept aside, not
// written over.
#pragma once

#include <QByteArray>
#include <QList>

#include <filesystem>
#include <functional>
#include <optional>

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

struct Update {
    QList<AuditEntry> entries;  // as changed
    bool saved = false;
};
// One change made by any number of writers at once without losing another's: under an exclusive lock
// on the file's folder, reads the file afresh, changes its entries and writes them back atomically. A
// file that is there but cannot be read or decoded is first moved aside in its folder, under a name that
// says what it is and when ("audit-unreadable-2026-12-09T140500Z.json"), and kept; if it cannot be moved,
// nothing is written over it. Nothing when the folder cannot be made or locked.
std::optional<Update> update(const std::filesystem::path& file,
                             const std::function<QList<AuditEntry>(QList<AuditEntry>)>& change);

}  // namespace qw::AuditLog

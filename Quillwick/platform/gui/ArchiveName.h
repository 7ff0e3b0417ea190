// ArchiveName: the plain file name a download is kept under, taken from the address it came from. A
// name from the network is hostile until cleaned: it loses slashes, control, format and bidirectional
// characters (which could make "x.exe" read as "x.zip"), leading dots and surrounding space, and is
// shortened to fit one file name. Every step takes one pass over a bounded name.
#pragma once

#include <QString>
#include <QUrl>

namespace qw {

struct ArchiveName {
    static constexpr qsizetype nameMax = 255;  // bytes in one file name

    QString base, suffix;  // the suffix with its dot, kept at the end of a numbered name

    // The name at the end of `from`, unless that would be hidden or no name at all; then `fallback`
    // (also cleaned) without an extension, since the last dot of a version is none; "Update" when both
    // are empty.
    static ArchiveName from(const QUrl& from, const QString& fallback);
    // One file name: no slashes or control, format or line-breaking characters, not hidden, never
    // "." or "..".
    static QString clean(QStringView name);

    // "x.zip" for 1, then "x 2.zip", "x 3.zip"…, the base shortened until the whole fits nameMax.
    QString candidate(int n = 1) const;
};

}  // namespace qw

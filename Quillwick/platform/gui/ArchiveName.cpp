#include "Quillwick/platform/gui/ArchiveName.h"

#include <QFileInfo>

namespace qw {
namespace {

// Far more than any name that fits nameMax once cleaned; a longer one keeps its start and its end,
// where the extension is.
constexpr qsizetype inputMax = 4096;
constexpr qsizetype inputTail = 64;
constexpr qsizetype suffixMax = 32;  // bytes; a longer "extension" is part of the name

QStringView bounded(QStringView name, QString& storage) {
    if (name.size() <= inputMax)
        return name;
    storage = name.first(inputMax - inputTail).toString() + name.last(inputTail).toString();
    return storage;
}

bool dropped(char32_t c) {
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:  // bidirectional overrides and isolates, zero-width characters
    case QChar::Other_Surrogate:  // unpaired
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

qsizetype utf8Size(char32_t c) { return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4; }

}  // namespace

QString ArchiveName::clean(QStringView name) {
    QString storage;
    name = bounded(name, storage);
    QString clean;
    clean.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        char32_t c = name[i].unicode();
        const bool pair = QChar::isHighSurrogate(c) && i + 1 < name.size() && name[i + 1].isLowSurrogate();
        if (pair)
            c = QChar::surrogateToUcs4(name[i], name[i + 1]);
        if (!dropped(c)) {
            if (c == u'/')
                clean += u'-';
            else if (pair)
                clean += name.sliced(i, 2);
            else
                clean += name[i];
        }
        i += pair ? 1 : 0;
    }
    QStringView view = QStringView(clean).trimmed();
    while (!view.isEmpty() && view.front() == u'.')
        view = view.sliced(1);
    return view.trimmed().toString();
}

ArchiveName ArchiveName::from(const QUrl& url, const QString& fallback) {
    const QString name = url.fileName(QUrl::FullyDecoded);
    if (const QString plain = name.startsWith(u'.') ? QString() : clean(name); !plain.isEmpty()) {
        const QString suffix = QFileInfo(plain).suffix();
        if (suffix.isEmpty() || suffix.toUtf8().size() > suffixMax)
            return {plain, {}};
        return {plain.first(plain.size() - suffix.size() - 1), u'.' + suffix};
    }
    const QString plain = clean(fallback);
    return {plain.isEmpty() ? QStringLiteral("Update") : plain, {}};
}

QString ArchiveName::candidate(int n) const {
    const QString tail = (n == 1 ? QString() : QStringLiteral(" %1").arg(n)) + suffix;
    qsizetype room = nameMax - tail.toUtf8().size();
    // Whole characters only: a pair of surrogates is one.
    qsizetype keep = 0;
    while (keep < base.size()) {
        const bool pair = base[keep].isHighSurrogate() && keep + 1 < base.size() && base[keep + 1].isLowSurrogate();
        const char32_t c = pair ? QChar::surrogateToUcs4(base[keep], base[keep + 1]) : base[keep].unicode();
        room -= utf8Size(c);
        if (room < 0)
            break;
        keep += pair ? 2 : 1;
    }
    return base.first(keep) + tail;
}

}  // namespace qw

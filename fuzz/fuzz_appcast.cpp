// Reads update feeds, orders the versions in them and names the downloads they offer: newest() and the
// offer of a newer version rely on a true order, and a saved file on a plain name that fits, so a
// violation of either is a finding like a crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QByteArray>
#include <QStringList>

#include "Quillwick/platform/gui/Appcast.h"
#include "Quillwick/platform/gui/ArchiveName.h"

namespace {

int order(const QString& a, const QString& b) { return qw::Appcast::compareVersions(a, b); }

void checkOrder(const QStringList& versions) {
    for (const QString& a : versions)
        for (const QString& b : versions) {
            const int ab = order(a, b);
            if (ab != -order(b, a) || (ab == 0) != (order(b, a) == 0))
                std::abort();
            for (const QString& c : versions)
                if (ab <= 0 && order(b, c) <= 0 && order(a, c) > 0)
                    std::abort();
        }
}

void checkName(const QString& name) {
    if (name.isEmpty() || name.startsWith(u'.') || name.contains(u'/') || name.toUtf8().size() > qw::ArchiveName::nameMax)
        std::abort();
    for (const char32_t c : name.toUcs4()) {
        const auto category = QChar::category(c);
        if (category == QChar::Other_Control || category == QChar::Other_Format || category == QChar::Other_Surrogate)
            std::abort();
    }
}

void checkNames(const QUrl& url, const QString& fallback) {
    const qw::ArchiveName name = qw::ArchiveName::from(url, fallback);
    checkName(name.candidate(1));
    checkName(name.candidate(9999));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    // The input's first lines as versions of their own, whether or not it is a feed.
    const QStringList lines = QString::fromUtf8(bytes).split(u'\n');
    checkOrder(lines.mid(0, 6));
    // The first line as a name from an address and as a fallback.
    QUrl address(QStringLiteral("https://example.org"));
    address.setPath(u'/' + lines.value(0));
    checkNames(address, lines.value(0));
    try {
        const qw::Appcast feed = qw::Appcast::parse(bytes);
        QStringList versions;
        for (const qw::Appcast::Item& item : feed.items) {
            versions << item.version;
            checkNames(item.url, QStringLiteral("Quillwick ") + item.shortVersion);
        }
        checkOrder(versions.mid(0, 12));
        if (const auto newest = feed.newest())
            for (const QString& version : versions)
                if (order(newest->version, version) < 0)
                    std::abort();
    } catch (const qw::Appcast::ParseError&) {
    }
    return 0;
}

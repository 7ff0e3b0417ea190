// Reads update feeds and orders the versions in them: newest() and the offer of a newer version rely
// on a true order, so a violation is a finding like a crash.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QByteArray>
#include <QStringList>

#include "Quillwick/platform/gui/Appcast.h"

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    // The input's first lines as versions of their own, whether or not it is a feed.
    checkOrder(QString::fromUtf8(bytes).split(u'\n').mid(0, 6));
    try {
        const qw::Appcast feed = qw::Appcast::parse(bytes);
        QStringList versions;
        for (const qw::Appcast::Item& item : feed.items)
            versions << item.version;
        checkOrder(versions.mid(0, 12));
        if (const auto newest = feed.newest())
            for (const QString& version : versions)
                if (order(newest->version, version) < 0)
                    std::abort();
    } catch (const qw::Appcast::ParseError&) {
    }
    return 0;
}

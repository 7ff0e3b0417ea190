#include "Quillwick/platform/gui/Appcast.h"

#include <algorithm>

#include <QStringList>
#include <QXmlStreamReader>

namespace qw {
namespace {

Appcast::ParseError errorAt(const QXmlStreamReader& reader, QString what) {
    if (what.endsWith(u'.'))
        what.chop(1);
    return Appcast::ParseError(QStringLiteral("line %1: %2").arg(reader.lineNumber()).arg(what).toStdString());
}

QUrl webUrl(const QString& text) {
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    const bool web = url.isValid() && !url.host().isEmpty() && (url.scheme() == u"https" || url.scheme() == u"http");
    return web ? url : QUrl();
}

std::optional<Appcast::Item> readItem(QXmlStreamReader& reader) {
    Appcast::Item item;
    QString version, shortVersion, notes;
    while (reader.readNextStartElement()) {
        const auto name = reader.name();
        if (name == u"enclosure") {
            for (const QXmlStreamAttribute& attribute : reader.attributes()) {
                const auto key = attribute.name();
                const QString value = attribute.value().trimmed().toString();
                if (key == u"url")
                    item.url = webUrl(value);
                else if (key == u"length")
                    item.length = value.toLongLong();
                else if (key == u"version")
                    item.version = value;
                else if (key == u"shortVersionString")
                    item.shortVersion = value;
                else if (key == u"edSignature")
                    item.edSignature = value;
            }
            reader.skipCurrentElement();
            continue;
        }
        // The name points into the reader's buffer: pick the field before reading on.
        QString* field = name == u"title"                ? &item.title
                         : name == u"version"            ? &version
                         : name == u"shortVersionString" ? &shortVersion
                         : name == u"releaseNotesLink"   ? &notes
                                                         : nullptr;
        if (field)
            *field = reader.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
        else
            reader.skipCurrentElement();
    }
    item.releaseNotes = webUrl(notes);
    if (!version.isEmpty())
        item.version = version;
    if (!shortVersion.isEmpty())
        item.shortVersion = shortVersion;
    if (item.shortVersion.isEmpty())
        item.shortVersion = item.version;
    if (item.version.isEmpty() || item.url.isEmpty())
        return std::nullopt;
    return item;
}

}  // namespace

Appcast Appcast::parse(const QByteArray& xml) {
    QXmlStreamReader reader(xml);
    Appcast feed;
    bool channel = false;
    if (reader.readNextStartElement()) {
        if (reader.name() != u"rss")
            throw errorAt(reader, QStringLiteral("the document is not an RSS feed"));
        while (reader.readNextStartElement()) {
            if (reader.name() != u"channel") {
                reader.skipCurrentElement();
                continue;
            }
            channel = true;
            while (reader.readNextStartElement()) {
                if (reader.name() != u"item") {
                    reader.skipCurrentElement();
                    continue;
                }
                if (auto item = readItem(reader))
                    feed.items.push_back(std::move(*item));
            }
        }
    }
    // Whatever follows the feed must be well-formed too.
    while (!reader.atEnd() && !reader.hasError())
        reader.readNext();
    if (reader.hasError())
        throw errorAt(reader, reader.errorString());
    if (!channel)
        throw errorAt(reader, QStringLiteral("the feed has no channel"));
    return feed;
}

std::optional<Appcast::Item> Appcast::newest() const {
    const auto found = std::max_element(items.begin(), items.end(), [](const Item& a, const Item& b) {
        return compareVersions(a.version, b.version) < 0;
    });
    if (found == items.end())
        return std::nullopt;
    return *found;
}

int Appcast::compareVersions(const QString& a, const QString& b) {
    const QStringList left = a.trimmed().split(u'.');
    const QStringList right = b.trimmed().split(u'.');
    const auto digitsOnly = [](const QString& part) {
        return !part.isEmpty() && std::all_of(part.begin(), part.end(), [](QChar c) { return c.isDigit() && c.unicode() < 128; });
    };
    for (qsizetype i = 0; i < std::max(left.size(), right.size()); ++i) {
        QString x = left.value(i, QStringLiteral("0"));
        QString y = right.value(i, QStringLiteral("0"));
        if (digitsOnly(x) && digitsOnly(y)) {
            // As numbers of any length: without leading zeros, the longer is the larger.
            while (x.size() > 1 && x.front() == u'0')
                x.remove(0, 1);
            while (y.size() > 1 && y.front() == u'0')
                y.remove(0, 1);
            if (x.size() != y.size())
                return x.size() < y.size() ? -1 : 1;
        }
        if (const int order = x.compare(y); order != 0)
            return order < 0 ? -1 : 1;
    }
    return 0;
}

}  // namespace qw

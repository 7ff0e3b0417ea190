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
    if (text.size() > Appcast::urlMax)
        return {};
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    const bool web = url.isValid() && !url.host().isEmpty() && (url.scheme() == u"https" || url.scheme() == u"http");
    return web ? url : QUrl();
}

// The text of the current element and everything inside it. The reader's own way recurses once per
// level, so a feed of nested tags well under its size cap would overflow the stack.
QString elementText(QXmlStreamReader& reader) {
    QString text;
    for (qsizetype depth = 1; depth > 0 && !reader.atEnd();) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            ++depth;
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        case QXmlStreamReader::Characters:
        case QXmlStreamReader::EntityReference:
            text += reader.text();
            break;
        default:
            break;
        }
    }
    return text;
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
            *field = elementText(reader).trimmed();
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
    if (item.version.isEmpty() || item.url.isEmpty() || item.version.size() > Appcast::versionMax ||
        item.shortVersion.size() > Appcast::versionMax)
        return std::nullopt;
    return item;
}

bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }

// How many characters from `from` are (or, with digits false, are not) ASCII digits.
qsizetype digitRun(QStringView text, qsizetype from = 0, bool digits = true) {
    qsizetype end = from;
    while (end < text.size() && isDigit(text[end]) == digits)
        ++end;
    return end - from;
}

// Digit strings as numbers of any length; no digits counts as 0.
int compareNumbers(QStringView x, QStringView y) {
    while (!x.isEmpty() && x.front() == u'0')
        x = x.sliced(1);
    while (!y.isEmpty() && y.front() == u'0')
        y = y.sliced(1);
    if (x.size() != y.size())
        return x.size() < y.size() ? -1 : 1;
    const int order = x.compare(y);
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

// Alternating runs of text and digits, text by its characters and digits as numbers; the shorter of
// two otherwise equal suffixes comes first.
int compareSuffixes(QStringView x, QStringView y) {
    bool digits = false;
    while (!x.isEmpty() && !y.isEmpty()) {
        const qsizetype xRun = digitRun(x, 0, digits), yRun = digitRun(y, 0, digits);
        int order = digits ? compareNumbers(x.first(xRun), y.first(yRun)) : x.first(xRun).compare(y.first(yRun));
        if (order != 0)
            return order < 0 ? -1 : 1;
        x = x.sliced(xRun);
        y = y.sliced(yRun);
        digits = !digits;
    }
    return x.isEmpty() == y.isEmpty() ? 0 : x.isEmpty() ? -1 : 1;
}

// Where a feed holds more than the reader should be given, and what, in one pass: a start tag with more
// than attributesMax attributes (an equals sign outside quotes each), or the start tag past
// elementsMax. Comments, character data, processing instructions and declarations are stepped over.
std::optional<std::pair<qsizetype, QString>> outsizedPart(const QByteArray& xml) {
    const qsizetype size = xml.size();
    // The end of what starts at `from` and ends with `close`, quotes honoured when asked.
    auto skipTo = [&](qsizetype from, QByteArrayView close, bool quotes, qsizetype* equals = nullptr) {
        char quote = 0;
        for (qsizetype i = from; i < size; ++i) {
            const char c = xml[i];
            if (quote) {
                quote = c == quote ? 0 : quote;
            } else if (quotes && (c == '"' || c == '\'')) {
                quote = c;
            } else if (QByteArrayView(xml).sliced(i).startsWith(close)) {
                return i + close.size();
            } else if (equals && c == '=' && ++*equals > Appcast::attributesMax) {
                return qsizetype(-1);
            }
        }
        return size;
    };
    qsizetype elements = 0;
    for (qsizetype i = xml.indexOf('<'); i >= 0 && i < size; i = xml.indexOf('<', i)) {
        const QByteArrayView rest = QByteArrayView(xml).sliced(i + 1);
        if (rest.startsWith("!--")) {
            i = skipTo(i + 4, "-->", false);
        } else if (rest.startsWith("![CDATA[")) {
            i = skipTo(i + 9, "]]>", false);
        } else if (rest.startsWith("?")) {
            i = skipTo(i + 2, "?>", false);
        } else if (rest.startsWith("!") || rest.startsWith("/")) {
            i = skipTo(i + 2, ">", true);
        } else {
            if (++elements > Appcast::elementsMax)
                return std::pair(i, QStringLiteral("the feed has more than %1 elements").arg(Appcast::elementsMax));
            qsizetype equals = 0;
            const qsizetype end = skipTo(i + 1, ">", true, &equals);
            if (end < 0)
                return std::pair(i, QStringLiteral("an element has more than %1 attributes").arg(Appcast::attributesMax));
            i = end;
        }
    }
    return std::nullopt;
}

}  // namespace

Appcast Appcast::parse(const QByteArray& xml) {
    if (const auto outsized = outsizedPart(xml))
        throw ParseError(QStringLiteral("line %1: %2")
                             .arg(xml.first(outsized->first).count('\n') + 1)
                             .arg(outsized->second)
                             .toStdString());
    QXmlStreamReader reader(xml);
    Appcast feed;
    bool channel = false;
    // No real feed declares entities, and each reference to one can stand for kilobytes of text.
    while (!reader.atEnd() && reader.readNext() != QXmlStreamReader::StartElement)
        if (reader.tokenType() == QXmlStreamReader::DTD && !reader.entityDeclarations().isEmpty())
            throw errorAt(reader, QStringLiteral("the feed declares entities, which no update feed needs"));
    if (reader.isStartElement()) {
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
    for (qsizetype i = 0; i < std::max(left.size(), right.size()); ++i) {
        const QStringView x = i < left.size() ? QStringView(left[i]) : QStringView(u"0");
        const QStringView y = i < right.size() ? QStringView(right[i]) : QStringView(u"0");
        const qsizetype xDigits = digitRun(x), yDigits = digitRun(y);
        if (const int order = compareNumbers(x.first(xDigits), y.first(yDigits)); order != 0)
            return order;
        const QStringView xRest = x.sliced(xDigits), yRest = y.sliced(yDigits);
        // A suffix makes a pre-release of the plain number.
        if (xRest.isEmpty() != yRest.isEmpty())
            return xRest.isEmpty() ? 1 : -1;
        if (const int order = compareSuffixes(xRest, yRest); order != 0)
            return order;
    }
    return 0;
}

}  // namespace qw

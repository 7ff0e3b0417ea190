// Appcast: the update feed, an RSS document whose items each offer one version of the application —
// its build number, the version people see, a release-notes page and the download with its length
// and Ed25519 signature. Elements and attributes are matched by local name, whatever their namespace,
// and the item's own elements win over the same attributes on its enclosure.
#pragma once

#include <optional>
#include <stdexcept>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace qw {

class Appcast {
public:
    struct Item {
        QString title;
        QString version;       // compared with the bundle's CFBundleVersion
        QString shortVersion;  // shown; the version when the feed gives none
        QUrl releaseNotes;     // http(s) only, else empty
        QUrl url;              // the download, http(s)
        qint64 length = 0;
        QString edSignature;   // standard Base64 of the 64-byte signature
        bool operator==(const Item&) const = default;
    };

    // what() says where the feed stops making sense.
    class ParseError : public std::runtime_error {
    public:
        using std::runtime_error::runtime_error;
    };

    // What no real feed holds. Elements and every element's attributes are counted before the XML reader
    // sees them, since its time grows with the square of the attributes and each element costs it dearly.
    static constexpr qsizetype attributesMax = 64;
    // Thousands of items hold a few dozen thousand; a feed of bare tags under the size cap holds a million.
    static constexpr qsizetype elementsMax = 200000;
    static constexpr qsizetype versionMax = 128;  // characters, for either version
    static constexpr qsizetype urlMax = 8192;

    // Throws ParseError when the text is not well-formed RSS, declares entities, has more than
    // elementsMax elements or an element with more than attributesMax attributes. Items without a version or an http(s) download, or with a version or address longer
    // than the bounds above, are skipped; a release-notes link over urlMax is dropped.
    static Appcast parse(const QByteArray& xml);

    // The item with the highest version, the first of equals; nothing when there are no items.
    std::optional<Item> newest() const;

    // Negative, zero or positive as `a` is older than, the same as or newer than `b`: one total order.
    // Dot-separated parts compare by their leading number ("1.10" after "1.9"), then by the rest, where
    // a suffix marks a pre-release ranked below the plain number ("1.10b1" before "1.10") and suffixes
    // compare run by run, digits as numbers; a missing part counts as 0 ("2" equals "2.0").
    static int compareVersions(const QString& a, const QString& b);

    std::vector<Item> items;
};

}  // namespace qw

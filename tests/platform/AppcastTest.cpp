// Reading the update feed and ordering versions.
#include <QRandomGenerator>
#include <QTest>

#include "Quillwick/platform/gui/Appcast.h"
#include "Quillwick/platform/gui/ArchiveName.h"

using namespace qw;

class AppcastTest : public QObject {
    Q_OBJECT
private slots:
    void versionsCompareByNumericParts() {
        const struct {
            const char *a, *b;
            int order;
        } cases[] = {{"1.10", "1.9", 1},   {"2", "2.0", 0},      {"1.0", "1.0.1", -1}, {"10", "9", 1},
                     {"007", "7", 0},      {"99999999999999999999", "100000000000000000000", -1},
                     {"2.0b", "2.0a", 1},  {"2.1", "2.0b", 1},   {"10a", "9", 1},      {"100", "10a", 1},
                     {"1.10b1", "1.10", -1}, {"1.10b1", "1.9", 1}, {"1.11", "1.10", 1}, {"1.10b10", "1.10b9", 1},
                     {"2.beta", "2", -1}};
        for (const auto& c : cases) {
            QCOMPARE(Appcast::compareVersions(c.a, c.b), c.order);
            QCOMPARE(Appcast::compareVersions(c.b, c.a), -c.order);
        }
        Appcast feed;
        for (const char* version : {"1.9", "1.10b1", "1.10", "1.2"}) {
            Appcast::Item item;
            item.version = version;
            feed.items.push_back(item);
        }
        QCOMPARE(feed.newest()->version, "1.10");
    }

    // Sorting and picking the newest rely on a true order, whatever the versions look like.
    void theVersionOrderIsAntisymmetricAndTransitive() {
        const QStringList atoms{"0", "1", "9", "10", "010", "a", "b", "b1", "b10", "1a", "10a", "9b2", "", "-", "rc"};
        QRandomGenerator random(27);
        QStringList versions;
        for (int i = 0; i < 80; ++i) {
            QStringList parts;
            for (int n = int(random.bounded(1, 4)); n > 0; --n)
                parts << atoms[random.bounded(int(atoms.size()))] + (random.bounded(4) ? "" : atoms[random.bounded(int(atoms.size()))]);
            versions << parts.join(u'.');
        }
        for (const QString& a : versions)
            for (const QString& b : versions) {
                const int ab = Appcast::compareVersions(a, b);
                QVERIFY2(ab == -Appcast::compareVersions(b, a), qPrintable(a + " / " + b));
                for (const QString& c : versions)
                    if (ab <= 0 && Appcast::compareVersions(b, c) <= 0)
                        QVERIFY2(Appcast::compareVersions(a, c) <= 0, qPrintable(a + " / " + b + " / " + c));
            }
    }

    void itemsAreReadByLocalNameAndIncompleteOnesAreSkipped() {
        const Appcast feed = Appcast::parse(R"(<?xml version="1.0"?>
<rss version="2.0" xmlns:u="https://example.org/updates">
 <channel><title>Q</title>
  <item><title>Nine</title><u:version>9</u:version><u:shortVersionString>1.9</u:shortVersionString>
   <u:releaseNotesLink>https://example.org/notes/1.9</u:releaseNotesLink>
   <enclosure url="https://example.org/Q-1.9.zip" length="123" u:version="8" u:edSignature="c2ln"/></item>
  <item><enclosure url="https://example.org/Q-2.zip" u:version="10" u:shortVersionString="2.0"/>
   <u:releaseNotesLink>javascript:alert(1)</u:releaseNotesLink></item>
  <item><u:version>11</u:version><enclosure url="file:///etc/passwd"/></item>
  <item><title>No version</title><enclosure url="https://example.org/x.zip"/></item>
 </channel>
</rss>)");
        QCOMPARE(feed.items.size(), std::size_t(2));
        const Appcast::Item& nine = feed.items[0];
        QCOMPARE(nine.version, "9");
        QCOMPARE(nine.shortVersion, "1.9");
        QCOMPARE(nine.releaseNotes, QUrl("https://example.org/notes/1.9"));
        QCOMPARE(nine.length, 123);
        QCOMPARE(nine.edSignature, "c2ln");
        QVERIFY(feed.items[1].releaseNotes.isEmpty());
        QCOMPARE(feed.newest()->shortVersion, "2.0");
        QVERIFY(!Appcast::parse("<rss><channel/></rss>").newest());
    }

    void aDocumentThatIsNotAnRssFeedIsAnError() {
        for (const char* text : {"", "not xml", "<html><body/></html>", "<rss><channel>", "<rss/>",
                                 "<rss><channel/></rss><rss/>"})
            QVERIFY_THROWS_EXCEPTION(Appcast::ParseError, Appcast::parse(text));
    }

    // What no real feed holds is refused or skipped before any work on it that grows faster than it.
    void outsizedNamesVersionsAndAttributeListsAreBounded() {
        auto feed = [](const QByteArray& enclosure, const QByteArray& inside = {}) {
            return "<rss><channel><!-- a=1 a=2 --><item>" + inside + "<enclosure " + enclosure +
                   "/></item></channel></rss>";
        };
        QByteArray crowded = "url=\"https://example.org/x.zip\" version=\"2\"";
        for (int i = 0; i < 200000; ++i)
            crowded += " a" + QByteArray::number(i) + "=\"\"";
        QVERIFY_THROWS_EXCEPTION(Appcast::ParseError, Appcast::parse(feed(crowded)));
        QByteArray enough = "url=\"https://example.org/x.zip?q=a=b\" version=\"2\"";
        for (int i = 2; i < Appcast::attributesMax; ++i)
            enough += " a" + QByteArray::number(i) + "=\"=\"";
        QCOMPARE(Appcast::parse(feed(enough)).items.size(), std::size_t(1));

        const QByteArray huge(1 << 20, '9');
        QVERIFY(Appcast::parse(feed("url=\"https://example.org/" + huge + ".zip\" version=\"2\"")).items.empty());
        QVERIFY(Appcast::parse(feed("url=\"https://example.org/x.zip\" version=\"2\"", "<shortVersionString>" + huge +
                                                                                         "</shortVersionString>"))
                    .items.empty());
        QVERIFY(Appcast::parse(feed("url=\"https://example.org/x.zip\" version=\"" + huge + "\"")).items.empty());

        // Nesting under the size cap is read without a frame per level.
        const QByteArray deep = QByteArray("<b>").repeated(190000) + "t" + QByteArray("</b>").repeated(190000);
        const auto nested = Appcast::parse(feed("url=\"https://example.org/x.zip\" version=\"2\"", "<title>" + deep + "</title>"));
        QCOMPARE(nested.items.at(0).title, QStringLiteral("t"));

        // Each element costs the reader far more than its few bytes.
        QVERIFY_THROWS_EXCEPTION(Appcast::ParseError,
                                 Appcast::parse(feed("url=\"https://example.org/x.zip\" version=\"2\"",
                                                     QByteArray("<a/>").repeated(Appcast::elementsMax))));

        // A few bytes per reference would grow into gigabytes of text.
        const QByteArray entity = "<!DOCTYPE rss [<!ENTITY a \"" + QByteArray(4000, 'a') + "\">]>";
        QVERIFY_THROWS_EXCEPTION(Appcast::ParseError,
                                 Appcast::parse(entity + feed("url=\"https://example.org/x.zip\" version=\"2\"",
                                                              "<title>" + QByteArray("&a;").repeated(1000) + "</title>")));
    }

    void archiveNamesArePlainAndShortenedToFit() {
        const QString rlo = QChar(0x202E), emoji = QString::fromUcs4(U"\U0001F600");
        const struct {
            QString path, fallback;
            QString first, second;
        } cases[] = {
            {"/Quillwick-2.4" + rlo + "piz.exe", "", "Quillwick-2.4piz.exe", "Quillwick-2.4piz 2.exe"},
            {"/a\u200Bb\u2028c\u2066.zip", "", "abc.zip", "abc 2.zip"},
            {"/", "Quillwick " + rlo + "2.4", "Quillwick 2.4", "Quillwick 2.4 2"},
            {"/" + QString(1 << 20, 'n') + ".zip", "", QString(251, 'n') + ".zip", QString(249, 'n') + " 2.zip"},
            // A character is kept whole or not at all.
            {"/" + QString(125, u'\u00e9') + emoji + ".zip", "", QString(125, u'\u00e9') + ".zip", QString(124, u'\u00e9') + " 2.zip"},
        };
        for (const auto& c : cases) {
            QUrl url("https://example.org");
            url.setPath(c.path);
            const ArchiveName name = ArchiveName::from(url, c.fallback);
            QCOMPARE(name.candidate(1), c.first);
            QCOMPARE(name.candidate(2), c.second);
            QVERIFY(name.candidate(1).toUtf8().size() <= ArchiveName::nameMax);
        }
    }
};

QTEST_MAIN(AppcastTest)
#include "AppcastTest.moc"

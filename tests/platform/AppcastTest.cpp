// Reading the update feed and ordering versions.
#include <QTest>

#include "Quillwick/platform/gui/Appcast.h"

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
                     {"2.0b", "2.0a", 1},  {"2.1", "2.0b", 1}};
        for (const auto& c : cases) {
            QCOMPARE(Appcast::compareVersions(c.a, c.b), c.order);
            QCOMPARE(Appcast::compareVersions(c.b, c.a), -c.order);
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
};

QTEST_MAIN(AppcastTest)
#include "AppcastTest.moc"

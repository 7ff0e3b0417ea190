// Reading the update feed and ordering versions.
#include <QRandomGenerator>
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
};

QTEST_MAIN(AppcastTest)
#include "AppcastTest.moc"

// What the build says about itself, read from the bundle's Info.plist.
#include <QtTest>

#include "FeedbackTestSupport.h"

using namespace qw;
using qw::test::TestBundle;

Q_DECLARE_METATYPE(qw::PlistDictionary)

class FeedbackConfigurationTest : public QObject {
    Q_OBJECT

private slots:
    void valuesFollowTheInfoPlist_data()
    {
        QTest::addColumn<PlistDictionary>("info");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("website");

        QTest::newRow("display name, version and build")
            << PlistDictionary{{"CFBundleDisplayName", "Job Tool"}, {"CFBundleName", "JT"},
                               {"CFBundleShortVersionString", "2.1"}, {"CFBundleVersion", "57"}}
            << "Job Tool" << "2.1 (57)" << "https://tarnmoor.com/apps/job-tool";
        QTest::newRow("an empty display name counts")
            << PlistDictionary{{"CFBundleDisplayName", ""}, {"CFBundleName", "JT"}}
            << "" << "0.0.0" << "https://tarnmoor.com/apps/";
        QTest::newRow("a display name that is no text falls back to the bundle name")
            << PlistDictionary{{"CFBundleDisplayName", 3}, {"CFBundleName", "Quill Wick"}, {"CFBundleVersion", "57"}}
            << "Quill Wick" << "0.0.0 (57)" << "https://tarnmoor.com/apps/quill-wick";
        QTest::newRow("nothing set")
            << PlistDictionary{} << "App" << "0.0.0" << "https://tarnmoor.com/apps/app";
        QTest::newRow("the slug wins")
            << PlistDictionary{{"CFBundleName", "Quillwick"}, {"SupportSlug", "qw"}}
            << "Quillwick" << "0.0.0" << "https://tarnmoor.com/apps/qw";
        QTest::newRow("an unexpanded slug is ignored")
            << PlistDictionary{{"CFBundleName", "Quillwick"}, {"SupportSlug", "$(SUPPORT_SLUG)"}}
            << "Quillwick" << "0.0.0" << "https://tarnmoor.com/apps/quillwick";
        QTest::newRow("a slug that is no path segment is encoded")
            << PlistDictionary{{"SupportSlug", "a/b c"}} << "App" << "0.0.0" << "https://tarnmoor.com/apps/a%2Fb%20c";
    }

    void valuesFollowTheInfoPlist()
    {
        QFETCH(PlistDictionary, info);
        QFETCH(QString, name);
        QFETCH(QString, version);
        QFETCH(QString, website);
        TestBundle bundle(info);
        QCOMPARE(FeedbackService::appName(), name);
        QCOMPARE(FeedbackService::appVersion(), version);
        QCOMPARE(FeedbackService::websiteURL().toString(QUrl::FullyEncoded), website);
    }

    void secretIsOnlyAUsableText_data()
    {
        QTest::addColumn<PlistDictionary>("info");
        QTest::addColumn<QString>("expected");  // empty: no secret
        QTest::newRow("absent") << PlistDictionary{} << "";
        QTest::newRow("not a text") << PlistDictionary{{"SupportSecret", 42}} << "";
        QTest::newRow("empty") << PlistDictionary{{"SupportSecret", ""}} << "";
        QTest::newRow("unexpanded build setting") << PlistDictionary{{"SupportSecret", "$(SUPPORT_SECRET)"}} << "";
        QTest::newRow("set") << PlistDictionary{{"SupportSecret", " s3cr3t"}} << " s3cr3t";
    }

    void secretIsOnlyAUsableText()
    {
        QFETCH(PlistDictionary, info);
        QFETCH(QString, expected);
        TestBundle bundle(info);
        QCOMPARE(FeedbackService::secret().value_or(QString()), expected);
    }

    void unreadableOrMissingInfoPlistCountsAsEmpty()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Info.plist");
        {
            FeedbackService::InfoPlistOverride missing(path);
            QCOMPARE(FeedbackService::appName(), QStringLiteral("App"));
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("<plist><array><string>x</string></array></plist>");
        file.close();
        FeedbackService::InfoPlistOverride notADictionary(path);
        QCOMPARE(FeedbackService::appName(), QStringLiteral("App"));
        QVERIFY(!FeedbackService::secret());
    }

    void osVersionAlwaysHasThreeParts()
    {
        QVERIFY(QRegularExpression("^\\d+\\.\\d+\\.\\d+$").match(FeedbackService::osVersion()).hasMatch());
    }

#ifdef QUILLWICK_SANDBOX
    void sandboxEndpointComesFromTheEnvironmentOnce()
    {
        qputenv("QUILLWICK_SUPPORT_URL", "http://127.0.0.1:8123/api/support");
        QCOMPARE(FeedbackService::endpoint(), QUrl("http://127.0.0.1:8123/api/support"));
        qputenv("QUILLWICK_SUPPORT_URL", "http://127.0.0.1:9/other");
        QCOMPARE(FeedbackService::endpoint(), QUrl("http://127.0.0.1:8123/api/support"));
    }
#endif
};

QTEST_GUILESS_MAIN(FeedbackConfigurationTest)
#include "FeedbackConfigurationTest.moc"

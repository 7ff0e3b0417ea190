// The request as the server sees it: body bytes, signature and headers.
#include <QtTest>

#include "FeedbackTestSupport.h"

using namespace qw;
using Category = FeedbackService::Category;
using Attestation = AppAttestClient::Attestation;

Q_DECLARE_METATYPE(qw::FeedbackService::Category)
Q_DECLARE_METATYPE(std::optional<qw::AppAttestClient::Attestation>)

class FeedbackRequestTest : public QObject {
    Q_OBJECT

    test::TestBundle bundle_{test::configuredInfo()};

private slots:
    void bodyIsSortedCompactAndEscapedLikeThePlatformWriter_data()
    {
        QTest::addColumn<Category>("category");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("email");
        QTest::addColumn<std::optional<Attestation>>("attestation");
        QTest::addColumn<QString>("expected");  // %1: the OS version

        const std::optional<Attestation> none;
        QTest::newRow("escapes")
            << Category::bug << QString::fromUtf8("a/b \"q\"\\\n\t\x01 é😀") << "" << none
            << QString::fromUtf8("{\"app\":\"Job Tool\",\"category\":\"bug\",\"message\":\"a\\/b \\\"q\\\"\\\\\\n\\t\\u0001 é😀\","
                                 "\"os\":\"%1\",\"platform\":\"macOS\",\"version\":\"2.1 (57)\"}");
        QTest::newRow("e-mail trimmed of blanks and tabs")
            << Category::feature << "hi" << QString::fromUtf8(" \t\u00a0me@x.org\u2003 ") << none
            << "{\"app\":\"Job Tool\",\"category\":\"feature\",\"email\":\"me@x.org\",\"message\":\"hi\","
               "\"os\":\"%1\",\"platform\":\"macOS\",\"version\":\"2.1 (57)\"}";
        QTest::newRow("blank e-mail left out")
            << Category::feedback << "hi" << " \t " << none
            << "{\"app\":\"Job Tool\",\"category\":\"feedback\",\"message\":\"hi\","
               "\"os\":\"%1\",\"platform\":\"macOS\",\"version\":\"2.1 (57)\"}";
        QTest::newRow("line break after the e-mail kept")
            << Category::feedback << "hi" << " me@x.org\n" << none
            << "{\"app\":\"Job Tool\",\"category\":\"feedback\",\"email\":\"me@x.org\\n\",\"message\":\"hi\","
               "\"os\":\"%1\",\"platform\":\"macOS\",\"version\":\"2.1 (57)\"}";
        QTest::newRow("attestation fields sort before the category")
            << Category::bug << "hi" << "" << std::optional(Attestation{"key-1", "QUJD+/=="})
            << "{\"app\":\"Job Tool\",\"attest_attestation\":\"QUJD+\\/==\",\"attest_key_id\":\"key-1\","
               "\"category\":\"bug\",\"message\":\"hi\",\"os\":\"%1\",\"platform\":\"macOS\",\"version\":\"2.1 (57)\"}";
    }

    void bodyIsSortedCompactAndEscapedLikeThePlatformWriter()
    {
        QFETCH(Category, category);
        QFETCH(QString, message);
        QFETCH(QString, email);
        QFETCH(std::optional<Attestation>, attestation);
        QFETCH(QString, expected);
        const QByteArray body = FeedbackService::body(category, message, email, attestation);
        QCOMPARE(QString::fromUtf8(body), expected.arg(FeedbackService::osVersion()));
        QVERIFY(QJsonDocument::fromJson(body).isObject());
    }

    // Expected values from `printf '<timestamp>\n<body>' | openssl dgst -sha256 -hmac <secret>`.
    void signatureIsHmacSha256OverTimestampLineFeedAndBody_data()
    {
        QTest::addColumn<QString>("timestamp");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("secret");
        QTest::addColumn<QString>("expected");
        QTest::newRow("body") << "1700000000" << QByteArray(R"({"app":"Job Tool","category":"bug","message":"a\/b"})")
                              << "s3cr3t" << "86a1fc113d0fe205bd498f81a42c31f7f4f73985c59c3437b40ab4c41edb6cd4";
        QTest::newRow("empty body, UTF-8 key") << "0" << QByteArray() << QString::fromUtf8("clé—key")
                                               << "2235f1281a36b77bf8f075006cbcfccbf6e5af1fe8c09166770b2aab65108249";
    }

    void signatureIsHmacSha256OverTimestampLineFeedAndBody()
    {
        QFETCH(QString, timestamp);
        QFETCH(QByteArray, body);
        QFETCH(QString, secret);
        QFETCH(QString, expected);
        QCOMPARE(FeedbackService::signature(timestamp, body, secret), expected);
    }

    void headersGoInTheirOrderWithTheAssertionOnlyWhenThereIsOne()
    {
        const QByteArray body = "{}";
        const QByteArray agent = "JobTool/2.1 (57) (macOS " + FeedbackService::osVersion().toLatin1() + ")";
        const QByteArray signature = FeedbackService::signature("17", body, "s3cr3t").toLatin1();
        const FeedbackService::Headers plain{{"Content-Type", "application/json"},
                                             {"Accept", "application/json"},
                                             {"X-Support-Timestamp", "17"},
                                             {"X-Support-Signature", signature},
                                             {"User-Agent", agent}};
        QCOMPARE(FeedbackService::headers("17", body, "s3cr3t", std::nullopt), plain);
        FeedbackService::Headers asserted = plain;
        asserted.insert(4, {"X-Support-Assertion", "QUJD"});
        QCOMPARE(FeedbackService::headers("17", body, "s3cr3t", QStringLiteral("QUJD")), asserted);
    }
};

QTEST_GUILESS_MAIN(FeedbackRequestTest)
#include "FeedbackRequestTest.moc"

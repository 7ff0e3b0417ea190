// The cached device key: when the service is asked, what is stored, and when the cache is dropped.
#include <QtTest>

#include "FeedbackTestSupport.h"

using namespace qw;
using Attestation = AppAttestClient::Attestation;

class AppAttestClientTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    std::unique_ptr<test::FakeAttestService> service_;
    std::unique_ptr<AppAttestClient> client_;
    QString settingsPath_;

    QSettings stored() const { return QSettings(settingsPath_, QSettings::IniFormat); }

    std::optional<Attestation> attest()
    {
        std::optional<std::optional<Attestation>> answer;
        client_->attestation(this, [&](std::optional<Attestation> a) { answer = a; });
        [&] { QVERIFY(answer); }();
        return answer.value_or(std::nullopt);
    }

    std::optional<QString> assert_(const QString& timestamp, const QByteArray& body)
    {
        std::optional<std::optional<QString>> answer;
        client_->assertion("key-1", timestamp, body, this, [&](std::optional<QString> a) { answer = a; });
        [&] { QVERIFY(answer); }();
        return answer.value_or(std::nullopt);
    }

private slots:
    void init()
    {
        settingsPath_ = dir_.filePath(QStringLiteral("%1.ini").arg(QTest::currentTestFunction()));
        QFile::remove(settingsPath_);
        service_ = std::make_unique<test::FakeAttestService>();
        client_ = std::make_unique<AppAttestClient>(*service_, std::make_unique<QSettings>(settingsPath_, QSettings::IniFormat));
    }

    void unsupportedMachineGivesNothingAndWritesNothing()
    {
        service_->supported = false;
        stored().setValue(AppAttestClient::keyIDKey, "old");
        stored().setValue(AppAttestClient::attestationKey, QByteArray("obj"));
        QCOMPARE(attest(), std::nullopt);
        QCOMPARE(service_->generateCalls, 0);
        QCOMPARE(stored().allKeys().size(), 2);
    }

    void freshKeyIsAttestedOverItsIdentifierAndCached()
    {
        service_->keys = {QStringLiteral("key-1")};
        service_->attestations = {QByteArray("attestation object")};
        const Attestation expected{"key-1", QByteArray("attestation object").toBase64()};
        QCOMPARE(attest(), std::optional(expected));
        QCOMPARE(service_->lastAttestHash, QCryptographicHash::hash("key-1", QCryptographicHash::Sha256));
        QCOMPARE(stored().value(AppAttestClient::keyIDKey).toString(), QStringLiteral("key-1"));
        QCOMPARE(stored().value(AppAttestClient::attestationKey).toByteArray(), QByteArray("attestation object"));

        // Cached from now on: no further service calls.
        QCOMPARE(attest(), std::optional(expected));
        QCOMPARE(service_->generateCalls, 1);
        QCOMPARE(service_->attestCalls, 1);
    }

    void identifierWithoutAttestationIsNoCache()
    {
        stored().setValue(AppAttestClient::keyIDKey, "stale");
        service_->keys = {QStringLiteral("key-2")};
        service_->attestations = {QByteArray("obj")};
        QCOMPARE(attest()->keyID, QStringLiteral("key-2"));
        QCOMPARE(stored().value(AppAttestClient::keyIDKey).toString(), QStringLiteral("key-2"));
    }

    void failedKeyGenerationOrAttestationStoresNothing()
    {
        service_->keys = {std::nullopt, QStringLiteral("key-1")};
        service_->attestations = {std::nullopt};
        QCOMPARE(attest(), std::nullopt);  // no key
        QCOMPARE(attest(), std::nullopt);  // key, but its attestation failed
        QCOMPARE(service_->attestCalls, 1);
        QVERIFY(stored().allKeys().isEmpty());
    }

    void assertionSignsTheSignedBytesAndAFailureDropsTheCache()
    {
        stored().setValue(AppAttestClient::keyIDKey, "key-1");
        stored().setValue(AppAttestClient::attestationKey, QByteArray("obj"));
        service_->assertions = {QByteArray("assertion"), std::nullopt};

        QCOMPARE(assert_("1700000000", "{}"), std::optional(QString::fromLatin1(QByteArray("assertion").toBase64())));
        QCOMPARE(service_->lastAssertionHash, QCryptographicHash::hash("1700000000\n{}", QCryptographicHash::Sha256));
        QCOMPARE(stored().allKeys().size(), 2);

        QCOMPARE(assert_("1700000001", "{}"), std::nullopt);
        QVERIFY(stored().allKeys().isEmpty());
        service_->keys = {QStringLiteral("key-3")};
        service_->attestations = {QByteArray("obj3")};
        QCOMPARE(attest()->keyID, QStringLiteral("key-3"));
    }
};

QTEST_GUILESS_MAIN(AppAttestClientTest)
#include "AppAttestClientTest.moc"

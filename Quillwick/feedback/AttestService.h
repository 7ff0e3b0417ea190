// AttestService: the device-attestation service of the platform (key generation, key attestation and
// assertions), behind an interface so that a machine without it, and the tests, can stand in.
// Every completion runs on the main thread; a failure yields nothing, since callers only ever drop it.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

namespace qw {

class AttestService {
public:
    virtual ~AttestService() = default;

    virtual bool isSupported() const = 0;
    virtual void generateKey(std::function<void(std::optional<QString> keyID)> done) = 0;
    virtual void attestKey(const QString& keyID, const QByteArray& clientDataHash,
                           std::function<void(std::optional<QByteArray> attestationObject)> done) = 0;
    virtual void generateAssertion(const QString& keyID, const QByteArray& clientDataHash,
                                   std::function<void(std::optional<QByteArray> assertionObject)> done) = 0;
};

// The shipped service: this machine has no App Attest, so feedback goes with its signature alone.
class UnsupportedAttestService final : public AttestService {
public:
    bool isSupported() const override { return false; }
    void generateKey(std::function<void(std::optional<QString>)> done) override { done(std::nullopt); }
    void attestKey(const QString&, const QByteArray&, std::function<void(std::optional<QByteArray>)> done) override
    {
        done(std::nullopt);
    }
    void generateAssertion(const QString&, const QByteArray&,
                           std::function<void(std::optional<QByteArray>)> done) override
    {
        done(std::nullopt);
    }
};

}  // namespace qw

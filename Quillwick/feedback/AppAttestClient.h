// AppAttestClient: one attested device key for the feedback request. The key identifier and its
// attestation object are cached in the user defaults ("supportAttestKeyID", "supportAttestAttestation")
// until an assertion with that key fails. Best effort throughout: every failure yields nothing.
// Used on the main thread only; its steps run one at a time there, between the service's completions.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QSettings;

namespace qw {

class AttestService;

class AppAttestClient : public QObject {
    Q_OBJECT

public:
    struct Attestation {
        QString keyID;
        QString attestation;  // standard Base64 of the attestation object
        bool operator==(const Attestation&) const = default;
    };

    static constexpr const char* keyIDKey = "supportAttestKeyID";
    static constexpr const char* attestationKey = "supportAttestAttestation";

    // `service` must outlive the client.
    AppAttestClient(AttestService& service, std::unique_ptr<QSettings> defaults, QObject* parent = nullptr);
    ~AppAttestClient() override;

    // The process's client over the shipped service and the standard user defaults; never released.
    static AppAttestClient& shared();

    // Each answer goes to `done` on the main thread, unless `context` is gone by then.
    void attestation(QObject* context, std::function<void(std::optional<Attestation>)> done);
    void assertion(const QString& keyID, const QString& timestamp, const QByteArray& body, QObject* context,
                   std::function<void(std::optional<QString> assertionBase64)> done);

    // The timestamp, a line feed and the body: the very bytes the request's signature covers.
    static QByteArray clientData(const QString& timestamp, const QByteArray& body);

private:
    AttestService& service_;
    std::unique_ptr<QSettings> defaults_;
};

}  // namespace qw

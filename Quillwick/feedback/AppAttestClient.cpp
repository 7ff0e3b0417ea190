#include "Quillwick/feedback/AppAttestClient.h"

#include <QCryptographicHash>
#include <QPointer>
#include <QSettings>

#include "Quillwick/feedback/AttestService.h"

namespace qw {

namespace {

QByteArray sha256(const QByteArray& data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256);
}

template <typename T>
void deliver(const QPointer<QObject>& context, const std::function<void(std::optional<T>)>& done,
             std::optional<T> value)
{
    if (context) done(std::move(value));
}

}  // namespace

AppAttestClient::AppAttestClient(AttestService& service, std::unique_ptr<QSettings> defaults, QObject* parent)
    : QObject(parent), service_(service), defaults_(std::move(defaults))
{
}

AppAttestClient::~AppAttestClient() = default;

AppAttestClient& AppAttestClient::shared()
{
    static UnsupportedAttestService service;
    static auto* client = new AppAttestClient(service, std::make_unique<QSettings>("tarnmoor", "Quillwick"));
    return *client;
}

QByteArray AppAttestClient::clientData(const QString& timestamp, const QByteArray& body)
{
    return timestamp.toUtf8() + '\n' + body;
}

void AppAttestClient::attestation(QObject* context, std::function<void(std::optional<Attestation>)> done)
{
    const QPointer<QObject> guard(context);
    if (!service_.isSupported()) return deliver<Attestation>(guard, done, std::nullopt);

    const QVariant storedKey = defaults_->value(keyIDKey);
    const QVariant storedObject = defaults_->value(attestationKey);
    if (storedKey.typeId() == QMetaType::QString && storedObject.typeId() == QMetaType::QByteArray)
        return deliver<Attestation>(
            guard, done, Attestation{storedKey.toString(), QString::fromLatin1(storedObject.toByteArray().toBase64())});

    const QPointer<AppAttestClient> self(this);
    service_.generateKey([self, guard, done](std::optional<QString> keyID) {
        if (!self || !keyID) return deliver<Attestation>(guard, done, std::nullopt);
        self->service_.attestKey(*keyID, sha256(keyID->toUtf8()),
                                 [self, guard, done, keyID = *keyID](std::optional<QByteArray> object) {
            // A failed attestation stores nothing, so the next send tries a fresh key.
            if (!self || !object) return deliver<Attestation>(guard, done, std::nullopt);
            self->defaults_->setValue(keyIDKey, keyID);
            self->defaults_->setValue(attestationKey, *object);
            self->defaults_->sync();
            deliver<Attestation>(guard, done, Attestation{keyID, QString::fromLatin1(object->toBase64())});
        });
    });
}

void AppAttestClient::assertion(const QString& keyID, const QString& timestamp, const QByteArray& body,
                                QObject* context, std::function<void(std::optional<QString>)> done)
{
    const QPointer<QObject> guard(context);
    const QPointer<AppAttestClient> self(this);
    service_.generateAssertion(keyID, sha256(clientData(timestamp, body)),
                               [self, guard, done](std::optional<QByteArray> object) {
        if (!object) {
            // The cached key is no good any more: the next attestation starts over with a new one.
            if (self) {
                self->defaults_->remove(keyIDKey);
                self->defaults_->remove(attestationKey);
                self->defaults_->sync();
            }
            return deliver<QString>(guard, done, std::nullopt);
        }
        deliver<QString>(guard, done, QString::fromLatin1(object->toBase64()));
    });
}

}  // namespace qw

#include "Quillwick/platform/gui/ArchiveSignature.h"

#include <memory>

#include <QFile>

#include <openssl/evp.h>

#include "helperkit/Base64.h"

namespace qw::ArchiveSignature {

bool verify(const QByteArray& archive, const QString& signature, const QByteArray& publicKey) {
    const auto bytes = Base64::decode(signature.trimmed().toStdString());
    if (!bytes || bytes->size() != 64 || publicKey.size() != 32)
        return false;
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                    reinterpret_cast<const unsigned char*>(publicKey.constData()), 32),
        &EVP_PKEY_free);
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!key || !context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return false;
    return EVP_DigestVerify(context.get(), bytes->data(), bytes->size(),
                            reinterpret_cast<const unsigned char*>(archive.constData()),
                            std::size_t(archive.size())) == 1;
}

bool verifyFile(const QString& path, const QString& signature, const QByteArray& publicKey) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    if (file.size() == 0)
        return verify(QByteArray(), signature, publicKey);
    const uchar* bytes = file.map(0, file.size());
    return bytes && verify(QByteArray::fromRawData(reinterpret_cast<const char*>(bytes), file.size()), signature, publicKey);
}

}  // namespace qw::ArchiveSignature

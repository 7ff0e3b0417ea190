// ArchiveSignature: whether a downloaded archive is signed with the maker's Ed25519 key.
#pragma once

#include <QByteArray>
#include <QString>

namespace qw::ArchiveSignature {

// `publicKey` is the raw 32-byte key; `signature` standard Base64 of the 64-byte signature over the
// whole archive. Anything malformed does not verify.
bool verify(const QByteArray& archive, const QString& signature, const QByteArray& publicKey);
// The same for the archive in a file, which is mapped rather than read into memory; a file that cannot
// be read does not verify.
bool verifyFile(const QString& path, const QString& signature, const QByteArray& publicKey);

}  // namespace qw::ArchiveSignature

// Shared by the feedback tests: a bundle Info.plist of the test's own, a scripted attestation service and
// a local support server.
#pragma once

#include <QByteArray>
#include <QString>
#include <QHash>
#include <QMap>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <vector>
#include <fstream>
#include <memory>

#include "Quillwick/feedback/AttestService.h"
#include "Quillwick/feedback/FeedbackService.h"
#include "helperkit/PlistCodec.h"

namespace qw::test {

// An Info.plist in a temporary bundle, installed for as long as the object lives.
class TestBundle {
public:
    explicit TestBundle(const PlistDictionary& info)
    {
        const QString path = dir_.filePath(QStringLiteral("Info.plist"));
        std::ofstream(path.toStdString(), std::ios::binary) << PlistCodec::writeXml(info);
        override_.emplace(path);
    }

private:
    QTemporaryDir dir_;
    std::optional<FeedbackService::InfoPlistOverride> override_;
};

inline constexpr const char* testSecret = "s3cr3t";

inline PlistDictionary configuredInfo()
{
    return PlistDictionary{{"CFBundleName", "Quillwick"},
                           {"CFBundleDisplayName", "Job Tool"},
                           {"CFBundleShortVersionString", "2.1"},
                           {"CFBundleVersion", "57"},
                           {"SupportSecret", testSecret}};
}

// Answers the n-th call of each kind at once with the n-th queued value (nothing past the end).
class FakeAttestService final : public AttestService {
public:
    bool supported = true;
    std::vector<std::optional<QString>> keys;
    std::vector<std::optional<QByteArray>> attestations;
    std::vector<std::optional<QByteArray>> assertions;
    int generateCalls = 0, attestCalls = 0, assertionCalls = 0;
    QByteArray lastAttestHash, lastAssertionHash;

    bool isSupported() const override { return supported; }
    void generateKey(std::function<void(std::optional<QString>)> done) override
    {
        done(answer(keys, generateCalls++));
    }
    void attestKey(const QString&, const QByteArray& hash, std::function<void(std::optional<QByteArray>)> done) override
    {
        lastAttestHash = hash;
        done(answer(attestations, attestCalls++));
    }
    void generateAssertion(const QString&, const QByteArray& hash,
                           std::function<void(std::optional<QByteArray>)> done) override
    {
        lastAssertionHash = hash;
        done(answer(assertions, assertionCalls++));
    }

private:
    template <typename T>
    static std::optional<T> answer(const std::vector<std::optional<T>>& queued, int call)
    {
        return std::size_t(call) < queued.size() ? queued[std::size_t(call)] : std::nullopt;
    }
};

struct ReceivedRequest {
    QByteArray method, path, body;
    QMap<QByteArray, QByteArray> headers;  // names lower-cased
};

// One request per connection. Answers `status` with `replyBody`, or nothing at all when `silent`; a
// request whose signature does not check out gets 400 "bad signature".
class SupportServer : public QObject {
public:
    int status = 200;
    QByteArray replyBody;
    bool silent = false;
    QList<ReceivedRequest> received;

    SupportServer()
    {
        server_.listen(QHostAddress::LocalHost);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/api/support").arg(server_.serverPort())); }
    void close() { server_.close(); }

private:
    void read(QTcpSocket* socket)
    {
        QByteArray& buffer = buffers_[socket];
        buffer += socket->readAll();
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0) return;
        ReceivedRequest request;
        const QList<QByteArray> lines = buffer.left(end).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.path = first.value(1);
        for (const QByteArray& line : lines.mid(1)) {
            const qsizetype colon = line.indexOf(':');
            request.headers[line.left(colon).trimmed().toLower()] = line.mid(colon + 1).trimmed();
        }
        const qsizetype length = request.headers.value("content-length").toLongLong();
        if (buffer.size() < end + 4 + length) return;
        request.body = buffer.mid(end + 4, length);
        received.append(request);
        if (silent) return;

        const QByteArray expected = FeedbackService::signature(
            QString::fromLatin1(request.headers.value("x-support-timestamp")), request.body, testSecret).toLatin1();
        const bool signedRight = request.headers.value("x-support-signature") == expected;
        const QByteArray body = signedRight ? replyBody : QByteArray("bad signature");
        socket->write("HTTP/1.1 " + QByteArray::number(signedRight ? status : 400) + " Status\r\n"
                      "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    }

    QTcpServer server_;
    QHash<QTcpSocket*, QByteArray> buffers_;
};

}  // namespace qw::test

// Test support: a real HTTP server on 127.0.0.1 for the code that talks to the maker's web site. One
// request per connection; a handler decides each answer. Header-only, for the Qt tests.
#pragma once

#include <functional>
#include <optional>

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

namespace qw::test {

struct HttpRequest {
    QByteArray method, path, body;
    QMap<QByteArray, QByteArray> headers;  // names lower-cased
};

struct HttpReply {
    int status = 200;
    QByteArray body;
};

class LocalHttpServer : public QObject {
public:
    // Nothing: the connection stays open with no answer.
    using Handler = std::function<std::optional<HttpReply>(const HttpRequest&)>;

    QList<HttpRequest> received;

    explicit LocalHttpServer(Handler handler) : handler_(std::move(handler))
    {
        server_.listen(QHostAddress::LocalHost);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    QUrl url(const QString& path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(server_.serverPort()).arg(path));
    }
    // Later connections are refused, as by a server that is down.
    void close() { server_.close(); }

private:
    void read(QTcpSocket* socket)
    {
        QByteArray& buffer = buffers_[socket];
        buffer += socket->readAll();
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0) return;
        HttpRequest request;
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
        buffers_.remove(socket);
        received.append(request);

        const std::optional<HttpReply> reply = handler_(request);
        if (!reply) return;
        socket->write("HTTP/1.1 " + QByteArray::number(reply->status) + " Status\r\n"
                      "Content-Length: " + QByteArray::number(reply->body.size()) + "\r\nConnection: close\r\n\r\n" +
                      reply->body);
        socket->disconnectFromHost();
    }

    Handler handler_;
    QTcpServer server_;
    QHash<QTcpSocket*, QByteArray> buffers_;
};

}  // namespace qw::test

// The send end to end, against a real HTTP server on 127.0.0.1 that checks the signature.
#include <QtTest>

#include "FeedbackTestSupport.h"

using namespace qw;
using Category = FeedbackService::Category;
using FeedbackError = FeedbackService::FeedbackError;
using test::ReceivedRequest;
using test::SupportServer;

class FeedbackSendTest : public QObject {
    Q_OBJECT

    test::TestBundle bundle_{test::configuredInfo()};
    std::unique_ptr<SupportServer> server_;

    // The failure of one send, or null on success.
    std::exception_ptr send(FeedbackService::Transport transport, const QString& email = QString())
    {
        if (transport.endpoint.isEmpty()) transport.endpoint = server_->url();
        bool finished = false;
        std::exception_ptr failure;
        FeedbackService::send(Category::bug, "It broke/again", email, this, [&](std::exception_ptr f) {
            finished = true;
            failure = f;
        }, transport);
        [&] { QTRY_VERIFY_WITH_TIMEOUT(finished, 15000); }();
        return failure;
    }

    static std::optional<FeedbackError> feedbackError(std::exception_ptr failure)
    {
        try {
            if (failure) std::rethrow_exception(failure);
        } catch (const FeedbackError& error) {
            return error;
        }
        return std::nullopt;
    }

private slots:
    void init() { server_ = std::make_unique<SupportServer>(); }

    void acceptedMessageGoesSignedWithoutAttestation()
    {
        QVERIFY(!send({}, " me@x.org "));
        QCOMPARE(server_->received.size(), 1);
        const ReceivedRequest& request = server_->received.first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.path, QByteArray("/api/support"));
        QCOMPARE(request.headers.value("content-type"), QByteArray("application/json"));
        QCOMPARE(request.headers.value("accept"), QByteArray("application/json"));
        QCOMPARE(request.headers.value("user-agent"), FeedbackService::userAgent().toUtf8());
        QVERIFY(!request.headers.contains("x-support-assertion"));
        const qint64 timestamp = request.headers.value("x-support-timestamp").toLongLong();
        QVERIFY(qAbs(timestamp - QDateTime::currentSecsSinceEpoch()) < 600);
        QCOMPARE(request.body, FeedbackService::body(Category::bug, "It broke/again", "me@x.org", std::nullopt));
    }

    void everyOtherStatusFailsWithItsText_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("description");
        const QByteArray withMessage = R"({"message":"Down for maintenance"})";
        QTest::newRow("401 ignores the message") << 401 << withMessage
                                                 << "This build can't send feedback — please use the website.";
        QTest::newRow("429") << 429 << QByteArray() << "Too many messages in a row — try again in a few minutes.";
        QTest::newRow("500 with a message") << 500 << withMessage << "Down for maintenance";
        QTest::newRow("500 without one") << 500 << QByteArray(R"({"error":"x"})") << "The server didn't accept it (500).";
        QTest::newRow("500 with HTML") << 500 << QByteArray("<html>oops</html>") << "The server didn't accept it (500).";
        QTest::newRow("message that is no text") << 503 << QByteArray(R"({"message":5})")
                                                 << "The server didn't accept it (503).";
        QTest::newRow("201 is no success") << 201 << QByteArray() << "The server didn't accept it (201).";
        QTest::newRow("201 with a message") << 201 << withMessage << "Down for maintenance";
    }

    void everyOtherStatusFailsWithItsText()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, reply);
        QFETCH(QString, description);
        server_->status = status;
        server_->replyBody = reply;
        const auto error = feedbackError(send({}));
        QVERIFY(error);
        QCOMPARE(error->kind(), FeedbackError::Kind::server);
        QCOMPARE(error->status(), status);
        QCOMPARE(error->errorDescription(), description);
    }

    void slowReplyTimesOut()
    {
        server_->silent = true;
        FeedbackService::Transport transport;
        transport.timeout = std::chrono::milliseconds(300);
        const auto error = feedbackError(send(transport));
        QVERIFY(error);
        QCOMPARE(error->kind(), FeedbackError::Kind::network);
        QCOMPARE(error->errorDescription(), QStringLiteral("Couldn't reach 127.0.0.1: The request timed out."));
    }

    void trickledReplyTimesOutLikeSilence()
    {
        // Headers at once, then one byte of a long body at a time: never silent, never done.
        QTcpServer trickler;
        QVERIFY(trickler.listen(QHostAddress::LocalHost));
        QTimer drip;
        QList<QTcpSocket*> sockets;
        connect(&trickler, &QTcpServer::newConnection, this, [&] {
            QTcpSocket* socket = trickler.nextPendingConnection();
            sockets.append(socket);
            connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                socket->readAll();
                if (!socket->property("answered").toBool())
                    socket->write("HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\n");
                socket->setProperty("answered", true);
            });
        });
        connect(&drip, &QTimer::timeout, this, [&] {
            for (QTcpSocket* socket : sockets)
                if (socket->property("answered").toBool()) socket->write("x");
        });
        drip.start(50);

        FeedbackService::Transport transport;
        transport.endpoint = QUrl(QStringLiteral("http://127.0.0.1:%1/api/support").arg(trickler.serverPort()));
        transport.timeout = std::chrono::milliseconds(5000);
        transport.floor = {std::chrono::milliseconds(400), 2560};
        const auto error = feedbackError(send(transport));
        QVERIFY(error);
        QCOMPARE(error->errorDescription(), QStringLiteral("Couldn't reach 127.0.0.1: The request timed out."));
    }

    void anEndlessErrorReplyEndsWithItsStatus()
    {
        QTcpServer flood;
        QVERIFY(flood.listen(QHostAddress::LocalHost));
        connect(&flood, &QTcpServer::newConnection, this, [&] {
            QTcpSocket* socket = flood.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                socket->readAll();
                if (socket->property("answered").toBool()) return;
                socket->setProperty("answered", true);
                socket->write("HTTP/1.1 500 Oops\r\nContent-Type: application/json\r\n\r\n{\"message\":\"");
                socket->write(QByteArray(1 << 20, 'x'));
            });
            // Fast and never done; it holds back after 256 MiB only so that a client keeping it all
            // fails this test rather than the machine.
            connect(socket, &QTcpSocket::bytesWritten, socket, [socket, sent = qint64(0)](qint64 bytes) mutable {
                sent += bytes;
                if (socket->bytesToWrite() < (1 << 20) && sent < (qint64(256) << 20)) socket->write(QByteArray(1 << 20, 'x'));
            });
        });
        FeedbackService::Transport transport;
        transport.endpoint = QUrl(QStringLiteral("http://127.0.0.1:%1/api/support").arg(flood.serverPort()));
        const auto error = feedbackError(send(transport));
        QVERIFY(error);
        QCOMPARE(error->kind(), FeedbackError::Kind::server);
        QCOMPARE(error->errorDescription(), QStringLiteral("The server didn't accept it (500)."));
    }

    void closedPortIsANetworkFailure()
    {
        FeedbackService::Transport transport;
        transport.endpoint = server_->url();
        server_->close();
        const auto error = feedbackError(send(transport));
        QVERIFY(error);
        QCOMPARE(error->kind(), FeedbackError::Kind::network);
        QVERIFY2(error->errorDescription().startsWith("Couldn't reach 127.0.0.1: "), qPrintable(error->errorDescription()));
    }

    void attestedSendCarriesTheKeyAndAnAssertionOverTheSignedBytes()
    {
        QTemporaryDir dir;
        test::FakeAttestService service;
        AppAttestClient client(service, std::make_unique<QSettings>(dir.filePath("d.ini"), QSettings::IniFormat));
        service.keys = {QStringLiteral("key-1")};
        service.attestations = {QByteArray("attestation")};
        service.assertions = {QByteArray("assertion"), std::nullopt};
        FeedbackService::Transport transport;
        transport.attest = &client;

        QVERIFY(!send(transport));
        const ReceivedRequest first = server_->received.last();
        QCOMPARE(first.headers.value("x-support-assertion"), QByteArray("assertion").toBase64());
        QCOMPARE(service.lastAssertionHash,
                 QCryptographicHash::hash(first.headers.value("x-support-timestamp") + '\n' + first.body,
                                          QCryptographicHash::Sha256));
        const QJsonObject body = QJsonDocument::fromJson(first.body).object();
        QCOMPARE(body.value("attest_key_id").toString(), QStringLiteral("key-1"));
        QCOMPARE(body.value("attest_attestation").toString(), QString::fromLatin1(QByteArray("attestation").toBase64()));

        // A failed assertion still sends, with the cached fields but without the header.
        QVERIFY(!send(transport));
        const ReceivedRequest second = server_->received.last();
        QVERIFY(!second.headers.contains("x-support-assertion"));
        QVERIFY(QJsonDocument::fromJson(second.body).object().contains("attest_key_id"));
    }

    void withoutASecretNothingIsAskedOrSent()
    {
        test::TestBundle unconfigured(PlistDictionary{{"SupportSecret", "$(SUPPORT_SECRET)"}});
        test::FakeAttestService service;
        AppAttestClient client(service, std::make_unique<QSettings>(QStringLiteral("/nonexistent/d.ini"), QSettings::IniFormat));
        FeedbackService::Transport transport;
        transport.attest = &client;
        const auto error = feedbackError(send(transport));
        QVERIFY(error);
        QCOMPARE(error->errorDescription(), QStringLiteral("Feedback isn't available in this build."));
        QCOMPARE(service.generateCalls, 0);
        QVERIFY(server_->received.isEmpty());
    }
};

QTEST_GUILESS_MAIN(FeedbackSendTest)
#include "FeedbackSendTest.moc"

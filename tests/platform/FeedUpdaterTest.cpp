// The updater against a real feed server on 127.0.0.1: checks, signed downloads, failures and the
// once-a-day automatic check. Each test signs with a key pair of its own.
#include <QDir>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QSettings>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/fsuid.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/evp.h>

#include "Quillwick/platform/gui/FeedUpdater.h"
#include "Quillwick/platform/gui/UpdateWindow.h"
#include "support/LocalHttpServer.h"
#include "support/SystemUser.h"

using namespace qw;
using Kind = FeedUpdater::Status::Kind;
using Failure = FeedUpdater::Status::Failure;

namespace {

constexpr int patience = 15000;

class SigningKey {
public:
    QByteArray publicKey() const {
        QByteArray raw(32, '\0');
        std::size_t size = 32;
        EVP_PKEY_get_raw_public_key(key_.get(), reinterpret_cast<unsigned char*>(raw.data()), &size);
        return raw;
    }
    QByteArray sign(const QByteArray& data) const {
        const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
        QByteArray signature(64, '\0');
        std::size_t size = 64;
        EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key_.get());
        EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &size,
                       reinterpret_cast<const unsigned char*>(data.constData()), std::size_t(data.size()));
        return signature.toBase64();
    }

private:
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key_{EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"),
                                                               &EVP_PKEY_free};
};

struct Offer {
    QByteArray version, shortVersion, signature;
    QByteArray url = {};  // the archive's; by default one on the feed's server
    qint64 length = 0;
};

// A server that answers by writing on the socket itself: for redirects, and answers that trickle, stall
// or never end.
class RawServer : public QObject {
public:
    std::function<void(const QByteArray& path, QTcpSocket* socket)> respond;
    int requests = 0;

    RawServer() {
        server_.listen(QHostAddress::LocalHost);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    const QByteArray head = socket->peek(8192);
                    if (!head.contains("\r\n\r\n") || socket->property("answered").toBool())
                        return;
                    socket->setProperty("answered", true);
                    ++requests;
                    respond(head.split(' ').value(1), socket);
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QByteArray url(const QByteArray& path) const {
        return "http://127.0.0.1:" + QByteArray::number(server_.serverPort()) + path;
    }

private:
    QTcpServer server_;
};

// An HTTPS server with a certificate of its own, trusted by the process while it lives; every request
// is answered with `answer`.
class TlsServer : public QObject {
public:
    QByteArray answer;

    explicit TlsServer(const QString& folder) {
        const QString key = folder + "/key.pem", certificate = folder + "/cert.pem";
        QProcess::execute("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                      "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1", "-addext",
                                      "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", certificate});
        QFile keyFile(key), certificateFile(certificate);
        keyFile.open(QIODevice::ReadOnly);
        certificateFile.open(QIODevice::ReadOnly);
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setLocalCertificate(QSslCertificate(certificateFile.readAll()));
        config.setPrivateKey(QSslKey(keyFile.readAll(), QSsl::Ec));
        server_.setSslConfiguration(config);
        QSslConfiguration trusting = trusted_;
        trusting.addCaCertificate(config.localCertificate());
        QSslConfiguration::setDefaultConfiguration(trusting);
        server_.listen(QHostAddress::LocalHost);
        connect(&server_, &QTcpServer::pendingConnectionAvailable, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    if (!socket->readAll().contains("\r\n\r\n"))
                        return;
                    socket->write(answer);
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    ~TlsServer() override { QSslConfiguration::setDefaultConfiguration(trusted_); }
    bool listening() const { return !server_.sslConfiguration().localCertificate().isNull() && server_.isListening(); }
    QUrl url(const QString& path) const { return QUrl(QStringLiteral("https://127.0.0.1:%1%2").arg(server_.serverPort()).arg(path)); }

private:
    const QSslConfiguration trusted_ = QSslConfiguration::defaultConfiguration();
    QSslServer server_;
};

// Headers announcing no length, then `chunk` bytes every `every` until the peer goes.
void trickle(QTcpSocket* socket, std::chrono::milliseconds every, int chunk = 1) {
    socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
    auto* timer = new QTimer(socket);
    QObject::connect(timer, &QTimer::timeout, socket, [socket, chunk] { socket->write(QByteArray(chunk, 'x')); });
    timer->start(every);
}

// One answer of `size` bytes, sent from a thread of its own as fast as the peer takes it.
class FastServer {
public:
    explicit FastServer(qint64 size) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length);
        ::listen(fd_, 1);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this, size] {
            const int peer = ::accept(fd_, nullptr, nullptr);
            if (peer < 0)
                return;
            char request[4096];
            [[maybe_unused]] const auto ignored = ::read(peer, request, sizeof request);
            const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(size) + "\r\n\r\n";
            const QByteArray block(1 << 20, 'z');
            bool open = ::send(peer, head.constData(), size_t(head.size()), MSG_NOSIGNAL) > 0;
            for (qint64 sent = 0; open && sent < size; sent += block.size())
                open = ::send(peer, block.constData(), size_t(std::min<qint64>(block.size(), size - sent)), MSG_NOSIGNAL) > 0;
            ::close(peer);
        });
    }
    ~FastServer() {
        ::shutdown(fd_, SHUT_RDWR);  // wakes an accept still waiting
        thread_.join();
        ::close(fd_);
    }
    QByteArray url(const QByteArray& path) const { return "http://127.0.0.1:" + QByteArray::number(port_) + path; }

private:
    int fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    quint16 port_ = 0;
    std::thread thread_;
};

// The process's private memory, without the files it maps.
qint64 anonymousMemory() {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("RssAnon:"))
            return line.mid(8).trimmed().split(' ').value(0).toLongLong() * 1024;
    return 0;
}

// The feed and the archives it offers, served from one local server.
class FeedServer {
public:
    QHash<QByteArray, test::HttpReply> files;
    test::LocalHttpServer http{[this](const test::HttpRequest& request) {
        return std::optional(files.value(request.path, test::HttpReply{404, "not found"}));
    }};

    void offer(const std::vector<Offer>& offers) {
        QByteArray items;
        for (const Offer& o : offers)
            items += "<item><title>Version " + o.shortVersion + "</title><u:version>" + o.version +
                     "</u:version><u:shortVersionString>" + o.shortVersion +
                     "</u:shortVersionString><u:releaseNotesLink>https://example.org/notes/" + o.shortVersion +
                     "</u:releaseNotesLink><enclosure url=\"" +
                     (o.url.isEmpty() ? http.url("/Quillwick-" + o.shortVersion + ".zip").toEncoded() : o.url) +
                     "\" length=\"" + QByteArray::number(o.length) + "\" u:edSignature=\"" + o.signature + "\"/></item>";
        files["/appcast.xml"] = {200, "<?xml version=\"1.0\"?><rss version=\"2.0\" "
                                      "xmlns:u=\"https://example.org/updates\"><channel>" + items + "</channel></rss>"};
    }
    int feedRequests() const {
        return int(std::count_if(http.received.begin(), http.received.end(),
                                 [](const test::HttpRequest& r) { return r.path == "/appcast.xml"; }));
    }
};

// An updater as the application makes it, over a settings file, a Downloads folder and a key of the
// test's own.
struct Fixture {
    QTemporaryDir dir;
    SigningKey key;
    FeedServer server;
    QStringList revealed;
    FeedUpdater::Environment::Limits limits;

    QString settingsPath() const { return dir.filePath("settings.ini"); }
    QString downloadsFolder;  // by default Downloads in `dir`
    QString downloads() const { return downloadsFolder.isEmpty() ? dir.filePath("Downloads") : downloadsFolder; }

    std::unique_ptr<FeedUpdater> updater(const QUrl& feed = {}) {
        const PlistDictionary info{{"CFBundleName", "Quillwick"},
                                   {"CFBundleShortVersionString", "2.1"},
                                   {"CFBundleVersion", "57"},
                                   {"SUPublicEDKey", key.publicKey().toBase64().toStdString()},
                                   {"SUFeedURL", (feed.isEmpty() ? server.http.url("/appcast.xml") : feed).toString().toStdString()}};
        FeedUpdater::Environment environment;
        environment.settings = std::make_unique<QSettings>(settingsPath(), QSettings::IniFormat);
        environment.downloads = downloads().toStdString();
        environment.reveal = [this](QWidget*, const QString& path) { revealed << path; };
        environment.limits = limits;
        return std::make_unique<FeedUpdater>(info, std::move(environment));
    }
};

QString headline(const FeedUpdater& updater) {
    return updater.window() ? updater.window()->findChild<QLabel*>("updateHeadline")->text() : QString();
}

// Runs a check the user asked for; true once it has finished, having blocked another meanwhile.
bool checkAndWait(FeedUpdater& updater, int patience = patience) {
    updater.checkForUpdates();
    if (updater.canCheckForUpdates())
        return false;
    return QTest::qWaitFor([&] { return updater.status().kind != Kind::checking; }, patience) &&
           updater.canCheckForUpdates();
}

// Checks, then downloads the newer version it found; true once the download has ended either way.
bool checkAndDownload(FeedUpdater& updater) {
    if (!checkAndWait(updater) || updater.status().kind != Kind::available)
        return false;
    updater.download();
    return QTest::qWaitFor([&] { return updater.status().kind != Kind::downloading; }, patience);
}

QStringList downloadsIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

}  // namespace

class FeedUpdaterTest : public QObject {
    Q_OBJECT
private slots:
    void aCheckSaysUpToDateOrOffersTheNewestVersion() {
        const struct {
            std::vector<Offer> offers;
            Kind outcome;
            QString shown;
        } cases[] = {{{}, Kind::upToDate, "You’re up to date."},
                     {{{"57", "2.1", ""}, {"41", "1.9", ""}}, Kind::upToDate, "You’re up to date."},
                     {{{"58", "2.2", ""}, {"60", "2.4", ""}, {"59", "2.3", ""}},
                      Kind::available, "A new version of Quillwick is available."}};
        for (const auto& c : cases) {
            Fixture f;
            f.server.offer(c.offers);
            auto updater = f.updater();
            QVERIFY(checkAndWait(*updater));
            const FeedUpdater& feed = *updater;
            QCOMPARE(feed.status().kind, c.outcome);
            QVERIFY(feed.window()->isVisible());
            QCOMPARE(headline(feed), c.shown);
            if (c.outcome == Kind::available) {
                QCOMPARE(feed.status().item->shortVersion, "2.4");
                auto* notes = feed.window()->findChild<QLabel*>("updateReleaseNotes");
                QVERIFY(notes->isVisible());
                // The link is reached with Tab like the buttons.
                QList<QWidget*> reached;
                for (int i = 0; i < 3; ++i) {
                    QTest::keyClick(feed.window(), Qt::Key_Tab);
                    reached << feed.window()->focusWidget();
                }
                QVERIFY(reached.contains(notes));
            }
        }
    }

    void aDownloadIsKeptAndShownOnlyWhenItsSignatureVerifies() {
        const QByteArray archive = "PK\x03\x04 the new version";
        SigningKey stranger;
        enum class Serve { asSigned, signedByAnother, altered };
        for (const Serve serve : {Serve::asSigned, Serve::signedByAnother, Serve::altered}) {
            Fixture f;
            const QByteArray signature = (serve == Serve::signedByAnother ? stranger : f.key).sign(archive);
            f.server.offer({{"60", "2.4", signature}});
            f.server.files["/Quillwick-2.4.zip"] = {200, serve == Serve::altered ? archive + "!" : archive};
            // A file of the same name already there is left alone.
            QDir().mkpath(f.downloads());
            QFile existing(QDir(f.downloads()).filePath("Quillwick-2.4.zip"));
            QVERIFY(existing.open(QIODevice::WriteOnly) && existing.write("mine") == 4);
            existing.close();

            auto updater = f.updater();
            QVERIFY(checkAndWait(*updater));
            FeedUpdater& feed = *updater;
            feed.download();
            QVERIFY(!updater->canCheckForUpdates());
            QTRY_VERIFY_WITH_TIMEOUT(feed.status().kind != Kind::downloading, patience);
            QVERIFY(updater->canCheckForUpdates());
            QCOMPARE(QDir(f.downloads()).entryList(QDir::Files).size(), serve == Serve::asSigned ? 2 : 1);
            QVERIFY(existing.open(QIODevice::ReadOnly) && existing.readAll() == "mine");
            if (serve == Serve::asSigned) {
                QCOMPARE(feed.status().kind, Kind::downloaded);
                QCOMPARE(f.revealed, QStringList{QDir(f.downloads()).filePath("Quillwick-2.4 2.zip")});
                QFile saved(f.revealed.value(0));
                QVERIFY(saved.open(QIODevice::ReadOnly) && saved.readAll() == archive);
            } else {
                QCOMPARE(feed.status().kind, Kind::refused);
                QCOMPARE(headline(feed), "The download was refused.");
                QVERIFY(f.revealed.isEmpty());
            }
        }
    }

    void aDownloadIsSavedUnderAPlainNameInTheDownloadsFolderOrFailsSaying() {
        const QByteArray archive = "PK\x03\x04 the new version";
        const QByteArray longName = QByteArray(300, 'n') + ".zip";
        const struct {
            QByteArray path, shortVersion;
            QStringList saved;  // in order of the downloads, each of the same archive
        } cases[] = {
            {"/" + longName, "2.4", {QString(251, 'n') + ".zip", QString(249, 'n') + " 2.zip"}},
            {"/evil%00%0A.zip", "2.4", {"evil.zip", "evil 2.zip"}},
            {"/", "9.9/../../../escaped", {"Quillwick 9.9-..-..-..-escaped"}},
            {"/", "2.4", {"Quillwick 2.4", "Quillwick 2.4 2"}},  // the version's dot is no extension
            {"/..%2F..%2Fescaped.zip", "2.4", {"escaped.zip"}},
            {"/%2E%2E", "..", {"Quillwick .."}},
            {"/go", "2.4", {"Quillwick-final.zip"}},  // after the redirect
        };
        for (const auto& c : cases) {
            Fixture f;
            QVERIFY(QDir().mkpath(f.downloads() + "/Quillwick 9.9"));
            RawServer raw;
            raw.respond = [&](const QByteArray& path, QTcpSocket* socket) {
                if (path == "/go")
                    socket->write("HTTP/1.1 302 Found\r\nLocation: /Quillwick-final.zip\r\nContent-Length: 0\r\n"
                                  "Connection: close\r\n\r\n");
                else
                    socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(archive.size()) +
                                  "\r\nConnection: close\r\n\r\n" + archive);
                socket->disconnectFromHost();
            };
            f.server.offer({{"60", c.shortVersion, f.key.sign(archive), raw.url(c.path)}});
            auto updater = f.updater();
            QStringList expected;
            for (const QString& name : c.saved) {
                QVERIFY(checkAndDownload(*updater));
                QCOMPARE(updater->status().kind, Kind::downloaded);
                expected << QDir(f.downloads()).filePath(name);
            }
            QCOMPARE(f.revealed, expected);
            for (const QString& path : expected) {
                QFile saved(path);
                QVERIFY2(saved.open(QIODevice::ReadOnly) && saved.readAll() == archive, qPrintable(path));
            }
            QCOMPARE(downloadsIn(f.downloads()).size(), c.saved.size() + 1);
            QCOMPARE(QDir(f.dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size(), qsizetype(2));
        }
    }

    void aDownloadThatCannotBeSavedEndsSayingWhereAndWhy() {
        const QByteArray archive(256 * 1024, 'z');
        enum class Folder { tooDeepForTheName, closed, full, linkToNothing };
        const struct {
            Folder folder;
            QString reason;  // after the folder and ": "
        } cases[] = {{Folder::tooDeepForTheName, ""},
                     {Folder::closed, "Permission denied"},
                     {Folder::full, "No space left on device"},
                     {Folder::linkToNothing, "it is a link to "}};
        for (const auto& c : cases) {
            Fixture f;
            f.server.offer({{"60", "2.4", f.key.sign(archive), f.server.http.url("/" + QString(250, 'n') + ".zip").toEncoded()}});
            f.server.files["/" + QByteArray(250, 'n') + ".zip"] = {200, archive};
            // Room for the temporary file, not for the archive's name.
            while (c.folder == Folder::tooDeepForTheName && f.downloads().size() < 3900)
                f.downloadsFolder = (f.downloadsFolder.isEmpty() ? f.dir.path() : f.downloadsFolder) + "/" + QString(200, 'd');
            const QString downloads = f.downloads();
            if (c.folder == Folder::linkToNothing)
                QVERIFY(QFile::link(f.dir.filePath("gone"), downloads));
            else
                QVERIFY(QDir().mkpath(downloads));
            const QByteArray where = QFile::encodeName(downloads);
            const bool mounted = c.folder == Folder::full && ::mount("tmpfs", where, "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") == 0;
            if (c.folder == Folder::full && !mounted) {
                QVERIFY2(geteuid() != 0, "the super-user could not mount a small file system");
                continue;
            }
            // The super-user writes anywhere: the closed folder is tried as a plain user.
            std::optional<test::SystemUser> user;
            if (c.folder == Folder::closed) {
                QFile::setPermissions(downloads, {});
                if (geteuid() == 0) {
                    user.emplace("qwupd", false);
                    QVERIFY(user->exists());
                    QVERIFY(::chown(QFile::encodeName(f.dir.path()), user->uid(), user->gid()) == 0);
                    ::setfsgid(user->gid());
                    ::setfsuid(user->uid());
                }
            }
            auto updater = f.updater();
            const bool ended = checkAndDownload(*updater);
            if (user) {
                ::setfsuid(0);
                ::setfsgid(0);
            }
            QFile::setPermissions(downloads, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            const QStringList left = c.folder == Folder::linkToNothing ? QStringList() : downloadsIn(downloads);
            if (mounted)
                ::umount2(where, MNT_DETACH);
            QVERIFY(ended);
            const FeedUpdater& feed = *updater;
            QCOMPARE(feed.status().kind, Kind::failed);
            QCOMPARE(feed.status().failure, Failure::saving);
            QVERIFY2(feed.status().detail.startsWith(downloads + ": " + c.reason), qPrintable(feed.status().detail));
            QVERIFY(f.revealed.isEmpty() && left.isEmpty());
        }
    }

    void whatAFeedOrADownloadTakesInIsBounded() {
        const QByteArray archive(4096, 'z');
        enum class Serve { bigFeed, longerThanDeclared, endless, endlessDeclaredHuge };
        for (const Serve serve : {Serve::bigFeed, Serve::longerThanDeclared, Serve::endless, Serve::endlessDeclaredHuge}) {
            Fixture f;
            f.limits.feedBytes = 64 * 1024;
            f.limits.archiveBytes = 256 * 1024;
            RawServer raw;
            raw.respond = [&](const QByteArray&, QTcpSocket* socket) {
                if (serve == Serve::endless || serve == Serve::endlessDeclaredHuge)
                    return trickle(socket, std::chrono::milliseconds(1), 8192);
                socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + archive);
                socket->disconnectFromHost();
            };
            const bool declared = serve == Serve::longerThanDeclared;
            // A length from the feed lowers the cap, never lifts it.
            const qint64 length = declared ? 1024 : serve == Serve::endlessDeclaredHuge ? qint64(1e15) : 0;
            f.server.offer({{"60", "2.4", f.key.sign(archive), raw.url("/Quillwick-2.4.zip"), length}});
            if (serve == Serve::bigFeed)
                f.server.files["/appcast.xml"].body.replace("</channel>", "<!--" + QByteArray(70 * 1024, '-') + "--></channel>");
            auto updater = f.updater();
            const FeedUpdater& feed = *updater;
            if (serve == Serve::bigFeed) {
                QVERIFY(checkAndWait(*updater));
                QCOMPARE(feed.status().failure, Failure::feed);
                QCOMPARE(headline(feed), "Quillwick couldn’t check for updates.");
                continue;
            }
            QVERIFY(checkAndDownload(*updater));
            QCOMPARE(feed.status().kind, Kind::failed);
            QCOMPARE(feed.status().failure, Failure::tooLarge);
            QVERIFY(feed.status().detail.contains(QLocale().formattedDataSize(declared ? 1024 : 256 * 1024)));
            QVERIFY(feed.window()->findChild<QLabel*>("updateMessage")->text().startsWith("The download was stopped"));
            // Nothing of it is kept.
            QVERIFY(downloadsIn(f.downloads()).isEmpty());
            QVERIFY(f.revealed.isEmpty());
        }
    }

    // The archive goes to disk as it arrives, however much faster the server is than the disk.
    void aLargeDownloadIsNotHeldInMemory() {
        constexpr qint64 size = qint64(384) << 20;
        Fixture f;
        FastServer fast(size);
        f.server.offer({{"60", "2.4", f.key.sign("PK"), fast.url("/Quillwick-2.4.zip"), size}});
        auto updater = f.updater();
        QVERIFY(checkAndWait(*updater));
        FeedUpdater& feed = *updater;
        const qint64 before = anonymousMemory();
        qint64 most = before;
        connect(&feed, &FeedUpdater::statusChanged, this, [&] { most = std::max(most, anonymousMemory()); });
        feed.download();
        QTRY_VERIFY_WITH_TIMEOUT(feed.status().kind != Kind::downloading, 4 * patience);
        QCOMPARE(feed.status().kind, Kind::refused);
        QVERIFY2(most - before < size / 4, qPrintable(QLocale().formattedDataSize(most - before)));
    }

    void aCheckHasADeadlineAndADownloadThatStallsEnds() {
        const QByteArray archive = "PK\x03\x04";
        enum class Slow { userCheck, automaticCheck, download, trickledDownload };
        for (const Slow slow : {Slow::userCheck, Slow::automaticCheck, Slow::download, Slow::trickledDownload}) {
            Fixture f;
            const bool download = slow == Slow::download || slow == Slow::trickledDownload;
            if (download)
                f.limits.stall = std::chrono::milliseconds(1500);
            else
                f.limits.checkDeadline = std::chrono::milliseconds(500);
            RawServer raw;
            raw.respond = [&](const QByteArray& path, QTcpSocket* socket) {
                if (path == "/appcast.xml")
                    return trickle(socket, std::chrono::milliseconds(50));
                if (slow == Slow::trickledDownload)
                    return trickle(socket, std::chrono::milliseconds(100));
                socket->write("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nPK");  // and then nothing
            };
            f.server.offer({{"60", "2.4", f.key.sign(archive), raw.url("/Quillwick-2.4.zip")}});
            if (slow == Slow::automaticCheck)
                QSettings(f.settingsPath(), QSettings::IniFormat).setValue(FeedUpdater::automaticChecksKey, true);
            auto updater = f.updater(download ? QUrl() : QUrl(raw.url("/appcast.xml")));
            FeedUpdater& feed = *updater;
            if (slow == Slow::userCheck)
                updater->checkForUpdates();
            if (download) {
                QVERIFY(checkAndWait(*updater));
                feed.download();
            }
            QTRY_VERIFY_WITH_TIMEOUT(raw.requests > 0, patience);
            QTRY_VERIFY_WITH_TIMEOUT(feed.status().kind != Kind::checking && feed.status().kind != Kind::downloading, patience);
            QVERIFY(updater->canCheckForUpdates());
            if (slow == Slow::automaticCheck) {
                QCOMPARE(feed.status().kind, Kind::idle);
                QVERIFY(!feed.window());
                continue;
            }
            QCOMPARE(feed.status().kind, Kind::failed);
            QCOMPARE(feed.status().failure, Failure::network);
            QVERIFY2(feed.status().detail.startsWith("no answer within"), qPrintable(feed.status().detail));
            QVERIFY(feed.window()->isVisible());
            QVERIFY(downloadsIn(f.downloads()).isEmpty());
        }
    }

    void aFailedCheckSaysWhatHappened() {
        // Far more than it says it is, once inflated.
        const QByteArray bomb = qCompress(QByteArray(qsizetype(64) << 20, '\0'), 9).mid(4);
        enum class Fault { notAFeed, missing, down, redirectedToAFile, redirectedToHttp, bomb };
        const struct {
            Fault fault;
            Failure failure;
            QString detail, message;
        } cases[] = {
            {Fault::notAFeed, Failure::feed, "line", "The update feed couldn’t be read ("},
            {Fault::missing, Failure::server, "status 404", "The update server answered with an error (status 404"},
            {Fault::down, Failure::network, "", "The update server couldn’t be reached ("},
            {Fault::redirectedToAFile, Failure::redirect, "to file:///etc/passwd, which is not a web address",
             "The update server redirected the request, and the redirect was refused (to file:///etc/passwd"},
            {Fault::redirectedToHttp, Failure::redirect, "from HTTPS to HTTP", "The update server redirected the request"},
            {Fault::bomb, Failure::undecodable, "it couldn’t be decompressed", "The update feed couldn’t be read (it couldn’t"},
        };
        for (const auto& c : cases) {
            Fixture f;
            RawServer raw;
            raw.respond = [&](const QByteArray&, QTcpSocket* socket) {
                if (c.fault == Fault::redirectedToAFile)
                    socket->write("HTTP/1.1 302 Found\r\nLocation: file:///etc/passwd\r\nContent-Length: 0\r\n\r\n");
                else
                    socket->write("HTTP/1.1 200 OK\r\nContent-Encoding: deflate\r\nContent-Length: " +
                                  QByteArray::number(bomb.size()) + "\r\n\r\n" + bomb);
                socket->disconnectFromHost();
            };
            if (c.fault == Fault::notAFeed)
                f.server.files["/appcast.xml"] = {200, "<html><body>Moved</body></html>"};
            if (c.fault == Fault::down)
                f.server.http.close();
            QUrl feedUrl;
            std::optional<TlsServer> tls;
            if (c.fault == Fault::redirectedToAFile || c.fault == Fault::bomb)
                feedUrl = raw.url("/appcast.xml");
            if (c.fault == Fault::redirectedToHttp) {
                tls.emplace(f.dir.path());
                QVERIFY(tls->listening());
                tls->answer = "HTTP/1.1 302 Found\r\nLocation: " + raw.url("/appcast.xml") + "\r\nContent-Length: 0\r\n\r\n";
                feedUrl = tls->url("/appcast.xml");
            }
            auto updater = f.updater(feedUrl);
            QVERIFY(checkAndWait(*updater));
            const FeedUpdater& feed = *updater;
            QCOMPARE(feed.status().kind, Kind::failed);
            QCOMPARE(feed.status().failure, c.failure);
            QVERIFY2(!feed.status().detail.isEmpty() && feed.status().detail.startsWith(c.detail),
                     qPrintable(feed.status().detail));
            QCOMPARE(headline(feed), "Quillwick couldn’t check for updates.");
            const QString message = feed.window()->findChild<QLabel*>("updateMessage")->text();
            QVERIFY2(message.startsWith(c.message), qPrintable(message));
        }
    }

    // An error page, however long, is neither read as the feed nor saved as the archive.
    void anErrorAnswerIsJudgedByItsStatusNotItsBody() {
        for (const bool download : {false, true}) {
            Fixture f;
            f.limits.feedBytes = 64 * 1024;
            f.limits.archiveBytes = 256 * 1024;
            RawServer raw;
            raw.respond = [&](const QByteArray& path, QTcpSocket* socket) {
                if (download && path == "/appcast.xml") {
                    socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + f.server.files["/appcast.xml"].body);
                    return socket->disconnectFromHost();
                }
                socket->write("HTTP/1.1 404 Not Found\r\nConnection: close\r\n\r\n");
                auto* timer = new QTimer(socket);
                connect(timer, &QTimer::timeout, socket, [socket] { socket->write(QByteArray(8192, 'x')); });
                timer->start(1);
            };
            f.server.offer({{"60", "2.4", "", raw.url("/Quillwick-2.4.zip")}});
            auto updater = f.updater(QUrl(raw.url("/appcast.xml")));
            const FeedUpdater& feed = *updater;
            QVERIFY(download ? checkAndDownload(*updater) : checkAndWait(*updater));
            QCOMPARE(feed.status().kind, Kind::failed);
            QCOMPARE(feed.status().failure, Failure::server);
            QVERIFY2(feed.status().detail.startsWith("status 404"), qPrintable(feed.status().detail));
            QVERIFY(downloadsIn(f.downloads()).isEmpty());
        }
    }

    // Asked for while an automatic check runs, a check shows that check's outcome, whatever it is.
    void aCheckAskedForDuringAnAutomaticOneShowsItsOutcome() {
        for (const bool answered : {true, false}) {
            Fixture f;
            if (!answered)
                f.limits.checkDeadline = std::chrono::milliseconds(1500);
            QSettings(f.settingsPath(), QSettings::IniFormat).setValue(FeedUpdater::automaticChecksKey, true);
            RawServer raw;
            QPointer<QTcpSocket> held;
            raw.respond = [&](const QByteArray&, QTcpSocket* socket) { held = socket; };
            auto updater = f.updater(QUrl(raw.url("/appcast.xml")));
            QTRY_VERIFY_WITH_TIMEOUT(held, patience);
            QVERIFY(updater->canCheckForUpdates());
            updater->checkForUpdates();
            QVERIFY(!updater->canCheckForUpdates());
            QCOMPARE(headline(*updater), "Checking for updates…");
            if (answered) {
                const QByteArray feed = "<rss><channel></channel></rss>";
                held->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(feed.size()) + "\r\n\r\n" + feed);
            }
            QTRY_VERIFY_WITH_TIMEOUT(updater->status().kind != Kind::checking, patience);
            QCOMPARE(updater->status().kind, answered ? Kind::upToDate : Kind::failed);
            QVERIFY(updater->window()->isVisible());
            QCOMPARE(headline(*updater), answered ? "You’re up to date." : "Quillwick couldn’t check for updates.");
            QCOMPARE(raw.requests, 1);
        }
    }

    void automaticChecksRunOnceADayAndSpeakOnlyOfANewerVersion() {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        for (const bool newer : {false, true}) {
            Fixture f;
            f.server.offer({{newer ? "58" : "57", "2.2", ""}});
            {
                QSettings settings(f.settingsPath(), QSettings::IniFormat);
                settings.setValue(FeedUpdater::automaticChecksKey, true);
                settings.setValue(FeedUpdater::lastCheckTimeKey, now.addSecs(-25 * 3600));
            }
            auto updater = f.updater();
            QVERIFY(updater->automaticallyChecksForUpdates());
            FeedUpdater& feed = *updater;
            QTRY_VERIFY_WITH_TIMEOUT(f.server.feedRequests() == 1 && feed.status().kind != Kind::checking, patience);
            QCOMPARE(feed.status().kind, newer ? Kind::available : Kind::idle);
            QCOMPARE(feed.window() && feed.window()->isVisible(), newer);
            // The next one a day after this one.
            QVERIFY(feed.nextAutomaticCheck() >= now.addSecs(24 * 3600));
        }

        Fixture f;
        {
            QSettings settings(f.settingsPath(), QSettings::IniFormat);
            settings.setValue(FeedUpdater::automaticChecksKey, true);
            settings.setValue(FeedUpdater::lastCheckTimeKey, now.addSecs(-3600));
        }
        {
            auto updater = f.updater();
            QCOMPARE(updater->nextAutomaticCheck(), now.addSecs(23 * 3600));
            updater->setAutomaticallyChecksForUpdates(false);
            QVERIFY(!updater->nextAutomaticCheck());
        }
        auto reopened = f.updater();
        QVERIFY(!reopened->automaticallyChecksForUpdates());
        QCOMPARE(f.server.feedRequests(), 0);
    }

    void theFeedAddressFromTheEnvironmentCountsOnlyInASandboxBuild() {
        qputenv("QUILLWICK_FEED_URL", "http://127.0.0.1:8123/appcast.xml");
        const auto environment = FeedUpdater::Environment::standard();
        qunsetenv("QUILLWICK_FEED_URL");
#ifdef QUILLWICK_SANDBOX
        QCOMPARE(environment.feedURL, std::optional(QUrl("http://127.0.0.1:8123/appcast.xml")));
#else
        QVERIFY(!environment.feedURL);
#endif
    }
};

QTEST_MAIN(FeedUpdaterTest)
#include "FeedUpdaterTest.moc"

// The updater against a real feed server on 127.0.0.1: checks, signed downloads, failures and the
// once-a-day automatic check. Each test signs with a key pair of its own.
#include <QDir>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <openssl/evp.h>

#include "Quillwick/platform/gui/FeedUpdater.h"
#include "Quillwick/platform/gui/UpdateWindow.h"
#include "Quillwick/platform/gui/Updater.h"
#include "support/LocalHttpServer.h"

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
};

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
                     http.url("/Quillwick-" + o.shortVersion + ".zip").toEncoded() + "\" u:edSignature=\"" +
                     o.signature + "\"/></item>";
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

    QString settingsPath() const { return dir.filePath("settings.ini"); }
    QString downloads() const { return dir.filePath("Downloads"); }

    std::unique_ptr<Updater> updater() {
        const PlistDictionary info{{"CFBundleName", "Quillwick"},
                                   {"CFBundleShortVersionString", "2.1"},
                                   {"CFBundleVersion", "57"},
                                   {"SUPublicEDKey", key.publicKey().toBase64().toStdString()},
                                   {"SUFeedURL", server.http.url("/appcast.xml").toString().toStdString()}};
        return std::make_unique<Updater>(info, false, [this, info] {
            FeedUpdater::Environment environment;
            environment.settings = std::make_unique<QSettings>(settingsPath(), QSettings::IniFormat);
            environment.downloads = downloads().toStdString();
            environment.reveal = [this](const QString& path) { revealed << path; };
            return std::make_unique<FeedUpdater>(info, std::move(environment));
        });
    }
};

FeedUpdater& backend(Updater& updater) { return *static_cast<FeedUpdater*>(updater.controller()); }

QString headline(const FeedUpdater& updater) {
    return updater.window() ? updater.window()->findChild<QLabel*>("updateHeadline")->text() : QString();
}

// Runs a check the user asked for; true once it has finished, having blocked another meanwhile.
bool checkAndWait(Updater& updater) {
    updater.checkForUpdates();
    if (updater.canCheckForUpdates())
        return false;
    return QTest::qWaitFor([&] { return backend(updater).status().kind != Kind::checking; }, patience) &&
           updater.canCheckForUpdates();
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
            QVERIFY(updater->controller());
            QVERIFY(checkAndWait(*updater));
            const FeedUpdater& feed = backend(*updater);
            QCOMPARE(feed.status().kind, c.outcome);
            QVERIFY(feed.window()->isVisible());
            QCOMPARE(headline(feed), c.shown);
            if (c.outcome == Kind::available) {
                QCOMPARE(feed.status().item->shortVersion, "2.4");
                QCOMPARE(feed.window()->findChild<QLabel*>("updateReleaseNotes")->isVisible(), true);
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
            FeedUpdater& feed = backend(*updater);
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

    void aFeedThatDoesNotParseOrAServerThatIsDownIsReported() {
        enum class Fault { notAFeed, missing, down };
        for (const Fault fault : {Fault::notAFeed, Fault::missing, Fault::down}) {
            Fixture f;
            if (fault == Fault::notAFeed)
                f.server.files["/appcast.xml"] = {200, "<html><body>Moved</body></html>"};
            if (fault == Fault::down)
                f.server.http.close();
            auto updater = f.updater();
            QVERIFY(checkAndWait(*updater));
            const FeedUpdater& feed = backend(*updater);
            QCOMPARE(feed.status().kind, Kind::failed);
            QCOMPARE(feed.status().failure, fault == Fault::notAFeed ? Failure::feed : Failure::network);
            QVERIFY(!feed.status().detail.isEmpty());
            QCOMPARE(headline(feed), "Quillwick couldn’t check for updates.");
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
            FeedUpdater& feed = backend(*updater);
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
            QCOMPARE(backend(*updater).nextAutomaticCheck(), now.addSecs(23 * 3600));
            updater->setAutomaticallyChecksForUpdates(false);
            QVERIFY(!backend(*updater).nextAutomaticCheck());
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

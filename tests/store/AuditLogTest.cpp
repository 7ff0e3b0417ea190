// The audit file: its format, its 200-entry bound, that a file it cannot read is an empty log and is kept
// aside, and that clients writing it at once lose nothing.
#include <QSet>
#include <QTest>

#include <regex>
#include <thread>

#include "Quillwick/platform/ApplicationSupport.h"
#include "Quillwick/store/AuditLog.h"
#include "Quillwick/store/PrivilegedClient.h"
#include "helperkit/AtomicFile.h"
#include "support/SandboxRoot.h"

using namespace qw;
namespace fs = std::filesystem;

class AuditLogTest : public QObject {
    Q_OBJECT

private slots:
    void entriesRoundTripInTheFileFormat() {
        AuditEntry entry;
        entry.id = QUuid::fromString(QStringLiteral("3F2504E0-4F89-11D3-9A0C-0305E82C3301"));
        entry.date = QDateTime(QDate(2001, 1, 1), QTime(0, 1, 40, 500), Qt::UTC);
        entry.action = QStringLiteral("load com.example.job");
        entry.succeeded = true;
        const QByteArray bytes = AuditLog::encode({entry});
        QCOMPARE(bytes, QByteArray(R"([{"id":"3F2504E0-4F89-11D3-9A0C-0305E82C3301","date":100.5,)"
                                   R"("action":"load com.example.job","succeeded":true}])"));
        QCOMPARE(AuditLog::decode(bytes), std::optional<QList<AuditEntry>>({entry}));

        entry.detail = QStringLiteral("Saved x.plist.");
        QCOMPARE(AuditLog::decode(AuditLog::encode({entry, entry})), std::optional<QList<AuditEntry>>({entry, entry}));
    }

    void oneBadEntryMakesTheWholeFileUnreadable() {
        const QByteArray good = R"({"id":"3F2504E0-4F89-11D3-9A0C-0305E82C3301","date":1,"action":"a","succeeded":true})";
        QVERIFY(AuditLog::decode("[" + good + "]"));
        for (const QByteArray& bad : {
                 QByteArray(R"({"date":1,"action":"a","succeeded":true})"),
                 QByteArray(R"({"id":"3F2504E0-4F89-11D3-9A0C-0305E82C3301","action":"a","succeeded":true})"),
                 QByteArray(R"({"id":"3F2504E0-4F89-11D3-9A0C-0305E82C3301","date":1,"succeeded":true})"),
                 QByteArray(R"({"id":"3F2504E0-4F89-11D3-9A0C-0305E82C3301","date":1,"action":"a"})"),
                 QByteArray(R"({"id":"not a uuid","date":1,"action":"a","succeeded":true})"),
                 QByteArray(R"({"id":"3F2504E0-4F89-11D3-9A0C-0305E82C3301","date":1e300,"action":"a","succeeded":true})"),
                 QByteArray(R"("text")"),
             })
            QCOMPARE(AuditLog::decode("[" + good + "," + bad + "]"), std::nullopt);
        QCOMPARE(AuditLog::decode("{}"), std::nullopt);
        QCOMPARE(AuditLog::decode("[" + good), std::nullopt);
    }

    void clientKeepsTheNewest200AndStartsEmptyOnAnUnreadableFile() {
        test::SandboxRoot root;
        const fs::path file = ApplicationSupport::auditFile();
        fs::remove_all(ApplicationSupport::folder());
        {
            PrivilegedClient client({fs::path("/nonexistent"), std::nullopt});
            QVERIFY(client.auditLog().isEmpty());
            QVERIFY(!fs::exists(ApplicationSupport::folder()));  // starting up writes nothing
            for (int i = 0; i < 201; ++i) {
                AuditEntry entry;
                entry.action = QString::number(i);
                client.record(entry);
            }
            QCOMPARE(client.auditLog().size(), 200);
            QCOMPARE(client.auditLog().front().action, QStringLiteral("200"));
            QCOMPARE(client.auditLog().back().action, QStringLiteral("1"));
        }
        PrivilegedClient reopened({fs::path("/nonexistent"), std::nullopt});
        QCOMPARE(reopened.auditLog().size(), 200);
        reopened.clearAuditLog();
        QCOMPARE(AuditLog::load(file).size(), 0);

        root.writeFile("/Users/" + SystemPaths::loginName() + "/Library/Application Support/Quillwick/audit.json",
                       "[{\"id\":", 0644);
        QVERIFY(PrivilegedClient({fs::path("/nonexistent"), std::nullopt}).auditLog().isEmpty());
        fs::remove(file);
        fs::create_directory(file);  // not a file at all
        QVERIFY(AuditLog::load(file).isEmpty());
    }

    void twoClientsWritingAtOnceLoseNothing() {
        test::SandboxRoot root;
        // Each client shows, after its last entry, the file as it wrote it: the other's entries included.
        QList<AuditEntry> shown[2];
        const auto writer = [&shown](int n) {
            return [&shown, n] {
                PrivilegedClient client({fs::path("/nonexistent"), std::nullopt});
                for (int i = 0; i < 100; ++i) {
                    AuditEntry entry;
                    entry.action = QStringLiteral("%1 %2").arg(n).arg(i);
                    client.record(entry);
                }
                shown[n] = client.auditLog();
            };
        };
        std::thread first(writer(0)), second(writer(1));
        first.join();
        second.join();
        const QList<AuditEntry> file = AuditLog::load(ApplicationSupport::auditFile());
        QSet<QString> actions;
        for (const AuditEntry& entry : file) actions.insert(entry.action);
        QCOMPARE(actions.size(), 200);
        QVERIFY(shown[0] == file || shown[1] == file);
        QVERIFY(shown[0].size() > 100 || shown[1].size() > 100);
    }

    void anUnreadableFileIsKeptAsideBeforeTheFirstWrite() {
        test::SandboxRoot root;
        const fs::path file = ApplicationSupport::auditFile();
        fs::create_directories(file.parent_path());
        for (const std::string& unreadable : {std::string("[{\"id\":"), std::string()}) {
            for (const auto& entry : fs::directory_iterator(file.parent_path())) fs::remove_all(entry.path());
            if (unreadable.empty())
                fs::create_directory(file);
            else
                writeFileAtomically(file, unreadable);
            PrivilegedClient client({fs::path("/nonexistent"), std::nullopt});
            QVERIFY(client.auditLog().isEmpty());
            AuditEntry entry;
            entry.action = QStringLiteral("load com.example.job");
            client.record(entry);
            QCOMPARE(AuditLog::load(file), QList<AuditEntry>{entry});

            std::vector<fs::path> kept;
            for (const auto& other : fs::directory_iterator(file.parent_path()))
                if (other.path() != file) kept.push_back(other.path());
            QCOMPARE(kept.size(), std::size_t(1));
            const std::string name = kept.front().filename().string();
            QVERIFY2(std::regex_match(name, std::regex(R"(audit-unreadable-\d{4}-\d\d-\d\dT\d{6}Z(-\d+)?\.json)")),
                     name.c_str());
            if (!unreadable.empty()) QCOMPARE(test::readFile(kept.front()), unreadable);
        }
    }
};

QTEST_MAIN(AuditLogTest)
#include "AuditLogTest.moc"

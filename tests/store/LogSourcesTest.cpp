#include "Quillwick/store/LaunchdActivityLog.h"
#include "Quillwick/store/LogTail.h"

#include <QDateTime>
#include <QSignalSpy>
#include <QTest>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "support/HeldThreadPool.h"
#include "support/SandboxRoot.h"

namespace fs = std::filesystem;
using namespace qw;

namespace {

void put(const fs::path& path, std::string_view bytes, std::ios::openmode mode = std::ios::trunc) {
    std::ofstream(path, std::ios::binary | mode) << bytes;
}
void add(const fs::path& path, std::string_view bytes) { put(path, bytes, std::ios::app); }

QString text(const fs::path& path) { return QString::fromStdString(path.string()); }

// Lines "line 00000" … of 11 bytes each.
std::string numbered(int count, int first = 0) {
    std::string out;
    char buffer[16];
    for (int i = first; i < first + count; ++i) {
        std::snprintf(buffer, sizeof buffer, "line %05d\n", i);
        out += buffer;
    }
    return out;
}

}  // namespace

class LogSourcesTest : public QObject {
    Q_OBJECT
private slots:
    void theFirstReadTakesTheLast64KiBWithoutTheCutLine() {
        test::TemporaryFolder folder;
        const fs::path big = folder.path() / "big.log", exact = folder.path() / "exact.log";
        std::string bytes;  // 100000 bytes of 50-byte lines: fewer lines than the tail keeps
        while (bytes.size() < 100000) bytes += numbered(1, int(bytes.size() / 50)).substr(0, 10) + std::string(39, '.') + "\n";
        put(big, bytes);
        put(exact, std::string(65535, 'x') + "\n");

        LogTail tail(text(big));
        tail.read(true);
        QVERIFY(!tail.error());
        const std::string expectedFirst = bytes.substr(bytes.find('\n', 34464) + 1, 49);
        QCOMPARE(tail.lines().first(), QString::fromStdString(expectedFirst));

        LogTail whole(text(exact));
        whole.read(true);
        QCOMPARE(whole.lines().join(QString()), QString(65535, 'x'));  // in pieces of the longest line
    }

    void pollsAppendWholeLinesOnly() {
        test::TemporaryFolder folder;
        const fs::path path = folder.path() / "out.log";
        put(path, "");
        LogTail tail(text(path));
        tail.read(true);

        add(path, "a\n\nb\n");
        tail.poll();
        QCOMPARE(tail.lines(), (QStringList{"a", "", "b"}));
        add(path, "c");
        tail.poll();
        QCOMPARE(tail.lines().size(), 3);  // no line feed yet
        add(path, "d \xC3");
        tail.poll();
        add(path, "\xA9\n");
        tail.poll();
        QCOMPARE(tail.lines().last(), QString::fromUtf8("cd é"));

        add(path, numbered(2500));
        tail.poll();
        QCOMPARE(tail.lines().size(), LogTail::maximumLines);
        QCOMPARE(tail.lines().last(), QStringLiteral("line 02499"));
    }

    void textWithoutLineFeedsIsBrokenIntoLinesOfBoundedLength() {
        test::TemporaryFolder folder;
        const fs::path path = folder.path() / "out.log";
        put(path, "");
        LogTail tail(text(path));
        tail.read(true);

        // 20 polls of 40,000 bytes and no line feed, characters of one to three bytes cut anywhere.
        std::string stream;
        while (stream.size() < 800000) stream += "ab\xE2\x82\xAC \xC3\xA9";
        stream.resize(800000);
        for (int poll = 0; poll < 20; ++poll) {
            add(path, std::string_view(stream).substr(poll * 40000, 40000));
            tail.poll();
        }
        tail.poll();
        tail.poll();  // quiet: the rest shows too
        QVERIFY(tail.lines().size() >= int(stream.size() / LogTail::maximumLineBytes));
        std::string shown;
        for (const QString& line : tail.lines()) {
            const QByteArray bytes = line.toUtf8();
            QVERIFY(bytes.size() <= qsizetype(LogTail::maximumLineBytes));
            QVERIFY(!line.contains(QChar::ReplacementCharacter));
            shown += bytes.toStdString();
        }
        // Only a character cut by the end of the stream is not whole.
        QCOMPARE(QString::fromStdString(shown).left(300000), QString::fromStdString(stream).left(300000));
        QVERIFY(shown.size() >= stream.size() - 3);

        // Fallen far behind in the middle of such a line: what follows the dropped piece still shows.
        add(path, std::string(200000, 'z'));
        tail.poll();
        QCOMPARE(tail.lines().last(), QString(LogTail::maximumLineBytes, 'z'));
    }

    void aLastLineWithoutLineFeedShowsOnceTheFileIsQuiet() {
        test::TemporaryFolder folder;
        const fs::path path = folder.path() / "err.log";
        put(path, "starting\n");
        LogTail tail(text(path));
        tail.read(true);
        QSignalSpy changed(&tail, &LogTail::linesChanged);

        add(path, "fatal: no config");
        tail.poll();
        tail.poll();
        QCOMPARE(tail.lines(), QStringList{"starting"});  // one quiet poll: more may come
        QCOMPARE(changed.count(), 0);
        tail.poll();
        QCOMPARE(tail.lines(), (QStringList{"starting", "fatal: no config"}));
        tail.poll();
        QCOMPARE(changed.count(), 1);

        add(path, " at");
        tail.poll();
        QCOMPARE(tail.lines(), (QStringList{"starting", "fatal: no config at"}));
        add(path, " /etc/x\nnext\n");
        tail.poll();
        QCOMPARE(tail.lines(), (QStringList{"starting", "fatal: no config at /etc/x", "next"}));

        // Also at the first read, and a cut line left behind by a truncation is not lost.
        put(path, "a\nbye");
        LogTail late(text(path));
        late.read(true);
        late.poll();
        late.poll();
        QCOMPARE(late.lines(), (QStringList{"a", "bye"}));
        add(path, "\nlast words");
        late.poll();
        fs::resize_file(path, 0);
        add(path, "again\n");
        late.poll();
        QCOMPARE(late.lines(), (QStringList{"a", "bye", "last words", "again"}));
    }

    void aFileThatStaysMissingOrUnreadableSignalsOnlyChanges() {
        test::TemporaryFolder folder;
        const fs::path path = folder.path() / "out.log";
        LogTail tail(text(path));
        QSignalSpy error(&tail, &LogTail::errorChanged), lines(&tail, &LogTail::linesChanged);
        tail.read(true);
        for (int poll = 0; poll < 3; ++poll) tail.poll();
        QCOMPARE(error.count(), 1);

        QCOMPARE(::mkfifo(path.c_str(), 0644), 0);
        tail.poll();
        QVERIFY(tail.error()->endsWith(" cannot be read. It may belong to another user — a daemon's log usually "
                                       "belongs to root."));
        for (int poll = 0; poll < 3; ++poll) tail.poll();
        QCOMPARE(error.count(), 2);

        fs::remove(path);
        put(path, "up\n");
        tail.poll();
        QVERIFY(!tail.error());
        QCOMPARE(tail.lines(), QStringList{"up"});
        QCOMPARE(error.count(), 3);
        QCOMPARE(lines.count(), 1);
    }

    void truncatedRotatedAndVanishedFilesAreFollowed() {
        test::TemporaryFolder folder;
        const fs::path path = folder.path() / "out.log";
        put(path, "old\n");
        LogTail tail(text(path));
        tail.read(true);

        fs::resize_file(path, 0);
        add(path, "x\n");
        tail.poll();
        QCOMPARE(tail.lines(), (QStringList{"old", "x"}));

        fs::rename(path, folder.path() / "out.log.1");
        put(path, "fresh\n");
        add(folder.path() / "out.log.1", "written to the old file\n");
        tail.poll();
        QCOMPARE(tail.lines(), (QStringList{"old", "x", "fresh"}));

        add(path, numbered(10000));  // far more than one poll reads
        tail.poll();
        QCOMPARE(tail.lines().last(), QStringLiteral("line 09999"));
        QVERIFY(tail.lines().size() < 6000);

        fs::remove(path);
        tail.poll();
        QVERIFY(tail.lines().isEmpty());
        QVERIFY(tail.error()->endsWith("does not exist yet. launchd creates the file the first time the program "
                                       "writes to it — and only if the folder around it already exists."));
    }

    void aMissingFileIsTriedAgainAndSpecialFilesAreRefused() {
        test::TemporaryFolder folder;
        const fs::path path = folder.path() / "later.log";
        LogTail tail(text(path));
        QSignalSpy error(&tail, &LogTail::errorChanged);
        tail.start();
        QCOMPARE(*tail.error(), text(path) + " does not exist yet. launchd creates the file the first time the "
                                             "program writes to it — and only if the folder around it already exists.");
        put(path, "hello\n");
        QTRY_COMPARE(tail.lines(), QStringList{"hello"});  // by the running poll
        QVERIFY(!tail.error());
        QCOMPARE(error.count(), 2);
        tail.stop();
        QVERIFY(!tail.isRunning());

        const fs::path fifo = folder.path() / "fifo.log";
        QCOMPARE(::mkfifo(fifo.c_str(), 0644), 0);
        for (const QString& special : {text(fifo), QStringLiteral("/dev/zero")}) {
            LogTail refused(special);
            refused.read(true);
            QCOMPARE(*refused.error(), special + " cannot be read. It may belong to another user — a daemon's log "
                                                 "usually belongs to root.");
            refused.poll();
            QVERIFY(refused.lines().isEmpty());
        }
    }

    void theActivityLogKeepsLaunchdsLinesAboutTheJob() {
        test::SandboxRoot root;
        const QString now = QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss.zzz000t");
        const QString old = QDateTime::currentDateTime().addSecs(-7200).toString("yyyy-MM-dd HH:mm:ss.zzz000t");
        std::string log;
        for (const auto& [when, message] : std::vector<std::pair<QString, QString>>{
                 {old, "[gui/501/com.example.job [10]:] exited long ago"},
                 {now, "[gui/501/com.example.job [11]:] service inactive"},
                 {now, "[gui/501/org.other [12]:] exited with exit code: 1"},
                 {now, "[gui/501/com.example.job.helper [13]:] spawned"}})
            log += (when + " Df launchd[1]: " + message + "\n").toStdString();
        put(root.resolve("/private/var/log/launchd.log"), log);

        LaunchdActivityLog activity;
        QFuture<void> loaded;
        {
            test::HeldThreadPool held;
            loaded = activity.load("com.example.job", 60);
            QVERIFY(activity.isLoading());
        }
        QTRY_VERIFY(loaded.isFinished());
        QVERIFY(!activity.isLoading());
        QVERIFY(!activity.error());
        QCOMPARE(activity.lines().size(), 2);
        QVERIFY(activity.lines()[0].contains("service inactive"));
        QVERIFY(activity.lines()[1].contains("com.example.job.helper"));

        put(root.resolve("/usr/bin/log.new"), "#!/bin/sh\necho 'log: no access' >&2\nexit 1\n");
        ::chmod(root.resolve("/usr/bin/log.new").c_str(), 0755);
        fs::rename(root.resolve("/usr/bin/log.new"), root.resolve("/usr/bin/log"));
        loaded = activity.load("com.example.job", 60);
        QTRY_VERIFY(loaded.isFinished());
        QCOMPARE(*activity.error(), QStringLiteral("log: no access"));
        QVERIFY(activity.lines().isEmpty());

        fs::remove(root.resolve("/usr/bin/log"));
        loaded = activity.load("com.example.job", 60);
        QTRY_VERIFY(loaded.isFinished());
        QCOMPARE(*activity.error(), QStringLiteral("Could not read the system log."));
    }
};

QTEST_MAIN(LogSourcesTest)
#include "LogSourcesTest.moc"

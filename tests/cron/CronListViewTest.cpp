#include <QListView>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QtTest>

#include "Quillwick/cron/CronDetailView.h"
#include "Quillwick/cron/CronListModel.h"
#include "Quillwick/cron/CronListView.h"
#include "Quillwick/ui/EmptyStateView.h"
#include "CronTestSupport.h"

namespace qw::test {

class CronListViewTest : public QObject {
    Q_OBJECT

    std::optional<SandboxRoot> root;

    static QWidget* shown(CronListView& view) { return view.findChild<QStackedWidget*>()->currentWidget(); }

private slots:
    void init() {
        root.emplace();
        QVERIFY(installCrontab(*root, readFile(QUILLWICK_SOURCE_DIR "/sandbox/demo/crontab")));
    }
    void cleanup() {
        qunsetenv("QUILLWICK_CRONTAB");
        root.reset();
    }

    void showingTheListReadsTheCrontabIntoRows() {
        CrontabStore store;
        CronListView view(&store);
        view.resize(420, 360);
        view.show();
        QVERIFY(QTest::qWaitFor([&] { return !store.isEmpty(); }, 60000));
        QCOMPARE(shown(view)->objectName(), QString("cronRows"));
        auto* rows = view.findChild<QListView*>("cronRows");
        QCOMPARE(rows->model()->rowCount(), 5);
        const QModelIndex paused = rows->model()->index(4, 0);
        QCOMPARE(paused.data().toString(), QString("/usr/local/bin/weekly-summary"));
        QCOMPARE(paused.data(CronListModel::DescriptionRole).toString(),
                 QString("Commented out — at 18:30 on fridays"));
        QCOMPARE(rows->model()->index(1, 0).data(CronListModel::DescriptionRole).toString(),
                 QString("At 09:00 on weekday 1-5"));
        keepScreenshot(view, "cron-list");
    }

    // An entry that never runs must not look like one that does, to the eye or to a screen reader.
    void aRowCronRefusesCarriesTheErrorMarker() {
        root->writeFile("/private/var/at/tabs/" + SystemPaths::loginName(), "0 9 * * * /bin/x\n61 * * * * /bin/y\n", 0600);
        CrontabStore store;
        QVERIFY(reloaded(store));
        CronListModel model(&store);
        QVERIFY(!model.index(0).data(CronListModel::RefusedRole).toBool());
        QVERIFY(model.index(1).data(CronListModel::RefusedRole).toBool());
        QCOMPARE(model.index(1).data(Qt::AccessibleTextRole).toString(),
                 QString("/bin/y, Never runs: cron refuses this schedule, Error: “61” is not a minute: cron takes 0–59."));
        CronListView view(&store);
        view.resize(420, 200);
        keepScreenshot(view, "cron-list-refused");
    }

    void placeholdersTellNoCrontabFromNoAccess() {
        SandboxRoot bare;
        CrontabStore store;
        CronListView view(&store);
        view.show();
        QVERIFY(reloaded(store));
        QCOMPARE(shown(view)->objectName(), QString("cronEmptyPlaceholder"));
        QVERIFY(shown(view)->findChildren<QPushButton*>().isEmpty());

        QVERIFY(installCrontab(bare, "0 9 * * * /bin/x\n"));
        QVERIFY(reloaded(store));
        qputenv("QUILLWICK_CRONTAB", "denied");
        QVERIFY(reloaded(store));
        // Access wins over the entries still held.
        auto* access = qobject_cast<EmptyStateView*>(shown(view));
        QVERIFY(access);
        QCOMPARE(access->title(), QString("Full Disk Access Needed"));
        QCOMPARE(access->symbol(), QString("lock.shield"));
        view.resize(420, 360);
        keepScreenshot(view, "cron-access");
        qunsetenv("QUILLWICK_CRONTAB");
        access->findChild<QPushButton*>("retryButton")->click();
        QVERIFY(QTest::qWaitFor([&] { return !store.needsFullDiskAccess(); }, 60000));
        QCOMPARE(shown(view)->objectName(), QString("cronRows"));
    }

    void theSelectionFollowsItsEntryOrIsCleared() {
        CrontabStore store;
        QVERIFY(reloaded(store));
        CronListView view(&store);
        QSignalSpy selected(&view, &CronListView::selectionChanged);
        auto* rows = view.findChild<QListView*>("cronRows");
        rows->setCurrentIndex(rows->model()->index(2, 0));  // "*/15 * * * * …" on line 9
        QCOMPARE(selected.count(), 1);
        QCOMPARE(view.selection(), std::optional<qint64>(9));

        // Switching an entry off keeps every line where it was.
        CronDetailView detail(store.crontab().jobs()[2], &store);
        detail.setEntryEnabled(false);
        QVERIFY(saved(store));
        QCOMPARE(view.selection(), std::optional<qint64>(9));
        QCOMPARE(selected.count(), 1);

        // Deleting the entry above moves another entry onto line 9 (the "@reboot" one): not this one.
        CronDetailView above(store.crontab().jobs()[1], &store);
        above.deleteEntry();
        QVERIFY(saved(store));
        QCOMPARE(store.crontab().jobs()[2].line, 9);
        QCOMPARE(view.selection(), std::nullopt);
        QCOMPARE(selected.count(), 2);
        QCOMPARE(selected.last().first().value<std::optional<qint64>>(), std::nullopt);
        QVERIFY(!rows->selectionModel()->hasSelection());

        // The window's choice comes in without an echo.
        view.setSelection(9);
        QCOMPARE(rows->currentIndex().row(), 2);
        QCOMPARE(selected.count(), 2);
    }
};

}  // namespace qw::test

QTEST_MAIN(qw::test::CronListViewTest)
#include "CronListViewTest.moc"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include "Quillwick/cron/CronDetailView.h"
#include "Quillwick/cron/CronIssueRow.h"
#include "Quillwick/cron/CronListView.h"
#include "CronTestSupport.h"

namespace qw::test {

class CronDetailViewTest : public QObject {
    Q_OBJECT

    std::optional<SandboxRoot> root;

    static QStringList texts(QWidget& view, const char* name) {
        QStringList out;
        for (auto* label : view.findChildren<QLabel*>(name)) out << label->text();
        return out;
    }

private slots:
    void init() { root.emplace(); }
    void cleanup() {
        qunsetenv("QUILLWICK_CRONTAB");
        root.reset();
    }

    void thePaneExplainsTheEntryAndItsProblems() {
        root->writeFile("/usr/local/bin/tool", "#!/bin/sh\n", 0755);
        QVERIFY(installCrontab(*root, "PATH=/usr/bin:/bin\nMAILTO=\"\"\n* * * * * /usr/local/bin/tool\n"
                                      "0 9 * * * /usr/local/bin/tool >/dev/null\n"));
        CrontabStore store;
        QVERIFY(reloaded(store));
        CronDetailView view(store.crontab().jobs()[0], &store);
        view.resize(560, 620);
        view.show();
        QCOMPARE(texts(view, "scheduleDescription"), QStringList{"Every minute"});
        QCOMPARE(texts(view, "scheduleExpression"), QStringList{"* * * * *"});
        QCOMPARE(texts(view, "commandText"), QStringList{"/usr/local/bin/tool"});
        QCOMPARE(texts(view, "environmentLine"), (QStringList{"MAILTO=\"\"", "PATH=/usr/bin:/bin"}));
        const auto issues = view.findChildren<CronIssueRow*>();
        QCOMPARE(issues.size(), 2);
        QCOMPARE(issues[0]->issue().title, std::string("This runs every minute"));
        QCOMPARE(issues[1]->issue().title, std::string("This job's output goes nowhere"));  // MAILTO="" mails nothing
        QCOMPARE(issues[0]->findChild<QLabel*>("issueSymbol")->accessibleName(), QString("Warning"));
        QVERIFY(view.findChild<QCheckBox*>("enabledSwitch")->isChecked());
        keepScreenshot(view, "cron-entry");

        view.setJob(store.crontab().jobs()[1]);
        QVERIFY(view.findChild<QWidget*>("problemsSection")->isHidden());
        QCOMPARE(texts(view, "scheduleDescription"), QStringList{"At 09:00"});

        QVERIFY(installCrontab(*root, "0 9 * * * /usr/local/bin/tool > /dev/null\n"));
        QVERIFY(reloaded(store));
        QVERIFY(view.findChild<QWidget*>("environmentSection")->isHidden());
    }

    void theSwitchCommentsTheLineInAndDeleteRemovesIt() {
        QVERIFY(installCrontab(*root, "# keep me\n#0 9 * * * /bin/x\n  #  indented note\n@daily /bin/y\n"));
        CrontabStore store;
        QVERIFY(reloaded(store));
        CronDetailView view(store.crontab().jobs()[0], &store);
        auto* enabled = view.findChild<QCheckBox*>("enabledSwitch");
        auto* remove = view.findChild<QPushButton*>("deleteButton");
        QVERIFY(!enabled->isChecked());
        {
            HeldThreadPool held;
            enabled->click();
            QVERIFY(view.isBusy());
            QVERIFY(!enabled->isEnabled());
            QVERIFY(!remove->isEnabled());
            QVERIFY(view.findChild<QProgressBar*>("busyIndicator")->isVisibleTo(&view));
        }
        QVERIFY(saved(store));
        QVERIFY(!view.isBusy());
        QCOMPARE(installedCrontab(*root), std::string("# keep me\n0 9 * * * /bin/x\n  #  indented note\n@daily /bin/y\n"));

        QVERIFY(enabled->isChecked());
        QVERIFY(!view.job().isDisabled);
        remove->click();
        QVERIFY(saved(store));
        QCOMPARE(installedCrontab(*root), std::string("# keep me\n  #  indented note\n@daily /bin/y\n"));
    }

    void aFailedSaveIsShownAndTheSwitchShowsTheStoredState() {
        QVERIFY(installCrontab(*root, "0 9 * * * /bin/x\n"));
        CrontabStore store;
        QVERIFY(reloaded(store));
        QWidget window;
        auto* view = new CronDetailView(store.crontab().jobs()[0], &store, &window);
        window.show();
        qputenv("QUILLWICK_CRONTAB", "denied");
        auto* enabled = view->findChild<QCheckBox*>("enabledSwitch");
        {
            HeldThreadPool held;
            enabled->click();
            QVERIFY(!enabled->isChecked());  // the flip stands while the save runs
        }
        QVERIFY(QTest::qWaitFor([&] { return view->failure().has_value(); }, 60000));
        QVERIFY(enabled->isChecked());
        QVERIFY(store.needsFullDiskAccess());
        auto* alert = window.findChild<QMessageBox*>("failureAlert");
        QVERIFY(alert);
        QCOMPARE(alert->windowTitle(), QString("That didn’t work"));
        QVERIFY(alert->informativeText().contains("until it has Full Disk Access"));
        alert->buttons().first()->click();
        QVERIFY(QTest::qWaitFor([&] { return !view->failure().has_value(); }, 60000));
        QCOMPARE(installedCrontab(*root), std::string("0 9 * * * /bin/x\n"));
    }

    // crontab refuses every file holding a line it refuses: the failure names that line and why.
    void aSaveCronRefusesNamesTheLineAndItsFault() {
        root->writeFile("/private/var/at/tabs/" + SystemPaths::loginName(), "0 9 * * * /bin/x\n61 * * * * /bin/y\n", 0600);
        CrontabStore store;
        QVERIFY(reloaded(store));
        QWidget window;
        auto* view = new CronDetailView(store.crontab().jobs()[0], &store, &window);
        view->setEntryEnabled(false);
        QVERIFY(QTest::qWaitFor([&] { return view->failure().has_value(); }, 60000));
        QCOMPARE(*view->failure(), QString("crontab refused the file: cron refuses line 2, “61 * * * * /bin/y”: “61” is "
                                           "not a minute: cron takes 0–59."));
    }

    // crontab -e moved the selected entry: the switch installs nothing, the reload clears the selection
    // and the window takes the pane away; the alert saying why must stay.
    void theAlertOutlivesThePaneTheReloadTakesAway() {
        QVERIFY(installCrontab(*root, "0 9 * * * /bin/x\n0 10 * * * /bin/y\n"));
        CrontabStore store;
        QVERIFY(reloaded(store));
        QWidget window;
        auto* list = new CronListView(&store, 1, &window);
        QPointer<CronDetailView> pane = new CronDetailView(store.crontab().jobs()[1], &store, &window);
        connect(list, &CronListView::selectionChanged, &window, [&](std::optional<qint64> line) {
            if (!line && pane) pane->deleteLater();
        });
        window.show();
        QTRY_VERIFY_WITH_TIMEOUT(!store.isLoading(), 60000);

        const std::string outside = "# added by crontab -e\n0 9 * * * /bin/x\n0 10 * * * /bin/y\n";
        QVERIFY(installCrontab(*root, outside));
        pane->findChild<QCheckBox*>("enabledSwitch")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!pane, 60000);
        auto* alert = window.findChild<QMessageBox*>("failureAlert");
        QVERIFY(alert);
        QVERIFY(alert->isVisible());
        QVERIFY(alert->informativeText().contains("changed outside Quillwick"));
        QCOMPARE(installedCrontab(*root), outside);
    }
};

}  // namespace qw::test

QTEST_MAIN(qw::test::CronDetailViewTest)
#include "CronDetailViewTest.moc"

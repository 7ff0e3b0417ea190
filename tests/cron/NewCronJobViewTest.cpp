#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QtTest>

#include "Quillwick/cron/NewCronJobView.h"
#include "CronTestSupport.h"

namespace qw::test {

class NewCronJobViewTest : public QObject {
    Q_OBJECT

    std::optional<SandboxRoot> root;

    struct Sheet {
        explicit Sheet(CrontabStore& store) : view(&store, [this] { ++created; }) {}
        NewCronJobView view;
        int created = 0;
        template <typename T>
        T* get(const char* name) { return view.findChild<T*>(name); }
        void choose(NewCronJobView::Shape shape) { get<QComboBox>("shapePicker")->setCurrentIndex(static_cast<int>(shape)); }
        void type(const char* field, const QString& text) {
            auto* edit = get<QLineEdit>(field);
            edit->clear();
            QTest::keyClicks(edit, text);
        }
        QString preview() { return get<QLabel>("previewLine")->text(); }
        QStringList issues() {
            QStringList titles;
            for (auto* label : view.findChildren<QLabel*>("previewIssueTitle")) titles << label->text();
            return titles;
        }
        bool canAdd() { return get<QPushButton>("addButton")->isEnabled(); }
    };

private slots:
    void init() { root.emplace(); }
    void cleanup() {
        qunsetenv("QUILLWICK_CRONTAB");
        root.reset();
    }

    void addingAtOnceWritesADailyEntryAndCloses() {
        CrontabStore store;
        QVERIFY(reloaded(store));
        Sheet sheet(store);
        sheet.view.show();
        QCOMPARE(sheet.preview(), QString("0 9 * * * /usr/bin/true"));
        QVERIFY(sheet.issues().isEmpty());
        QVERIFY(!sheet.canAdd());
        QVERIFY(sheet.get<QLabel>("firstCrontabNotice")->isVisibleTo(&sheet.view));
        sheet.type("commandField", "/bin/date");
        QCOMPARE(sheet.preview(), QString("0 9 * * * /bin/date"));
        QCOMPARE(sheet.get<QLabel>("previewDescription")->text(), QString("At 09:00"));
        keepScreenshot(sheet.view, "new-cron-entry");
        QTest::keyClick(sheet.get<QLineEdit>("commandField"), Qt::Key_Return);
        QVERIFY(QTest::qWaitFor([&] { return sheet.created == 1; }, 60000));
        QCOMPARE(sheet.view.result(), int(QDialog::Accepted));
        QCOMPARE(installedCrontab(*root), std::string("0 9 * * * /bin/date\n"));
        QCOMPARE(store.crontab().jobs().back().line, 0);
        QVERIFY(!store.isEmpty());
    }

    void eachPresetBuildsItsSchedule() {
        CrontabStore store;
        Sheet sheet(store);
        sheet.type("commandField", "/bin/x");
        using Shape = NewCronJobView::Shape;
        sheet.choose(Shape::everyFewMinutes);
        auto* every = sheet.get<QSpinBox>("everyMinutesStepper");
        QCOMPARE(every->text(), QString("Every 15 minutes"));
        every->setValue(5);
        QCOMPARE(sheet.preview(), QString("*/5 * * * * /bin/x"));
        every->setValue(0);
        QCOMPARE(every->value(), 1);
        every->setValue(60);
        QCOMPARE(every->value(), 59);

        // A time set under one preset stays set under the others.
        sheet.choose(Shape::daily);
        sheet.get<QSpinBox>("hourStepper")->setValue(9);
        sheet.get<QSpinBox>("minuteStepper")->setValue(30);
        QCOMPARE(sheet.get<QSpinBox>("minuteStepper")->text(), QString("30"));
        QCOMPARE(sheet.get<QSpinBox>("hourStepper")->text(), QString("09"));
        sheet.choose(Shape::hourly);
        QCOMPARE(sheet.preview(), QString("30 * * * * /bin/x"));
        QVERIFY(!sheet.get<QWidget>("hourStepper")->isVisibleTo(&sheet.view));

        sheet.choose(Shape::weekly);
        sheet.get<QComboBox>("weekdayPicker")->setCurrentText("Friday");
        sheet.get<QSpinBox>("hourStepper")->setValue(18);
        sheet.get<QSpinBox>("minuteStepper")->setValue(5);
        QCOMPARE(sheet.preview(), QString("5 18 * * 5 /bin/x"));

        sheet.choose(Shape::monthly);
        sheet.get<QSpinBox>("hourStepper")->setValue(9);
        sheet.get<QSpinBox>("minuteStepper")->setValue(0);
        auto* day = sheet.get<QSpinBox>("dayOfMonthStepper");
        day->setValue(15);
        QCOMPARE(day->text(), QString("On day 15"));
        QCOMPARE(sheet.preview(), QString("0 9 15 * * /bin/x"));
        day->setValue(31);
        QCOMPARE(day->value(), 28);

        sheet.choose(Shape::atStartup);
        QCOMPARE(sheet.preview(), QString("@reboot /bin/x"));
        QVERIFY(sheet.get<QLabel>("startupNote")->isVisibleTo(&sheet.view));
        QVERIFY(!sheet.issues().contains("@reboot is unreliable on macOS"));  // notes are left out here

        sheet.choose(Shape::custom);
        QCOMPARE(sheet.preview(), QString("0 9 * * * /bin/x"));
        sheet.type("expressionField", "0  9 * * 1-5");
        QCOMPARE(sheet.preview(), QString("0 9 * * 1-5 /bin/x"));
        QVERIFY(sheet.canAdd());
        sheet.type("expressionField", "@daily");
        QCOMPARE(sheet.preview(), QString("@daily /bin/x"));
        QVERIFY(sheet.canAdd());
        for (const QString expression : {"0 9 * *", "0 9 * * 1-5 extra", "0\t9 * * *"}) {
            sheet.get<QLineEdit>("expressionField")->setText(expression);
            QCOMPARE(sheet.preview(), QString("* * * * * /bin/x"));
            QVERIFY2(!sheet.canAdd(), qPrintable(expression));
            QVERIFY(sheet.get<QLabel>("refusal")->isVisibleTo(&sheet.view));
        }
        QCOMPARE(NewCronJobView::shape("Every week"), std::optional(Shape::weekly));
        QCOMPARE(NewCronJobView::shape("every week"), std::nullopt);
    }

    void thePreviewListsErrorsAndWarningsAndRefusesHiddenLines() {
        QVERIFY(installCrontab(*root, "MAILTO=\"\"\n0 1 * * * /bin/old\n"));
        CrontabStore store;
        QVERIFY(reloaded(store));
        Sheet sheet(store);
        QVERIFY(!sheet.get<QLabel>("firstCrontabNotice")->isVisibleTo(&sheet.view));
        sheet.type("commandField", "backup.sh");
        QCOMPARE(sheet.issues(), QStringList{"This relies on PATH, and cron's PATH is not yours"});
        sheet.type("commandField", "backup.sh +%F");
        QCOMPARE(sheet.issues(),
                 (QStringList{"An unescaped % will break this command", "This relies on PATH, and cron's PATH is not yours"}));
        keepScreenshot(sheet.view, "new-cron-entry-problems");
        for (const QString& command : {QString("/bin/a\n* * * * * /bin/b"), QString("/bin/a\rb"), QString("/bin/a") + QChar(0), QString("   ")}) {
            sheet.get<QLineEdit>("commandField")->setText(command);
            QVERIFY(!sheet.canAdd());
        }
    }

    // A word that is no cron field would write a line crontab reads as something else: "A=1 * * * * x"
    // is a variable, and the sheet would report an entry added that is not there.
    void aCustomExpressionMustBeMadeOfCronFields() {
        CrontabStore store;
        QVERIFY(reloaded(store));
        Sheet sheet(store);
        sheet.choose(NewCronJobView::Shape::custom);
        sheet.type("commandField", "/bin/x");
        const std::pair<QString, QString> refused[] = {
            {"A=1 * * * *", "minute"}, {"PATH=/x * * * *", "minute"}, {"0 9am * * *", "hour"},
            {"0 9 jan * *", "day of month"}, {"0 9 * mon *", "month"}, {"0 9 * * jan", "day of week"},
            // crontab would refuse the whole file over any of these.
            {"61 25 * * *", "minute"}, {"0 24 * * *", "hour"}, {"0 9 * 13 *", "month"}, {"*/0 * * * *", "minute"},
            {"@foo", "@foo"},
            {"@Daily", "@Daily"}};
        for (const auto& [expression, field] : refused) {
            sheet.get<QLineEdit>("expressionField")->setText(expression);
            QVERIFY2(!sheet.canAdd(), qPrintable(expression));
            auto* reason = sheet.get<QLabel>("refusal");
            QVERIFY2(reason->isVisibleTo(&sheet.view), qPrintable(expression));
            QVERIFY2(reason->text().contains(field), qPrintable(reason->text()));
        }
        sheet.view.show();
        keepScreenshot(sheet.view, "new-cron-entry-bad-field");
        // crontab installs a backwards range: it never runs, which the preview warns of.
        for (const QString expression : {"*/5 9-17 1,15 JAN-jun mon-FRI", "59 23 31 12 7", "0 9 * * 7-1"}) {
            sheet.get<QLineEdit>("expressionField")->setText(expression);
            QVERIFY2(sheet.canAdd(), qPrintable(expression));
            QVERIFY(!sheet.get<QLabel>("refusal")->isVisibleTo(&sheet.view));
        }
        // Six fields typed as five: crontab refuses a command that starts with "*", whatever the shape.
        sheet.type("commandField", "* /bin/x");
        QVERIFY(!sheet.canAdd());
        QVERIFY(sheet.get<QLabel>("refusal")->text().contains("sixth time field"));
        sheet.choose(NewCronJobView::Shape::everyFewMinutes);
        QVERIFY(!sheet.canAdd());
    }

    void refusedAccessIsSaidAsSuch() {
        qputenv("QUILLWICK_CRONTAB", "denied");
        CrontabStore store;
        QVERIFY(reloaded(store));
        QVERIFY(store.needsFullDiskAccess());
        Sheet sheet(store);
        sheet.view.show();
        QVERIFY(!sheet.get<QLabel>("firstCrontabNotice")->isVisibleTo(&sheet.view));
        auto* notice = sheet.get<QLabel>("accessNotice");
        QVERIFY(notice->isVisibleTo(&sheet.view));
        QVERIFY(notice->text().contains("macOS will not let Quillwick read or change your crontab without it."));
        sheet.type("commandField", "/bin/x");
        sheet.get<QPushButton>("addButton")->click();
        QVERIFY(QTest::qWaitFor([&] { return sheet.view.failure().has_value(); }, 60000));
        QCOMPARE(*sheet.view.failure(), QString("macOS will not let Quillwick change your crontab until it has Full Disk Access."));
        QCOMPARE(sheet.created, 0);
        keepScreenshot(sheet.view, "new-cron-entry-no-access");
    }

    void aRefusedSaveKeepsTheSheetOpenWithTheReason() {
        // A line cron refuses, put there past crontab's checks, makes it refuse every new file.
        root->writeFile("/private/var/at/tabs/" + SystemPaths::loginName(), "60 1 * * * /bin/old\n");
        CrontabStore store;
        QVERIFY(reloaded(store));
        Sheet sheet(store);
        sheet.view.show();
        sheet.type("commandField", "/bin/x");
        {
            HeldThreadPool held;
            sheet.get<QPushButton>("addButton")->click();
            QVERIFY(sheet.view.isBusy());
            QVERIFY(!sheet.canAdd());
        }
        QVERIFY(QTest::qWaitFor([&] { return sheet.view.failure().has_value(); }, 60000));
        QVERIFY(sheet.view.isVisible());
        QVERIFY(sheet.canAdd());
        QCOMPARE(sheet.created, 0);
        QCOMPARE(sheet.get<QLabel>("failureText")->text(),
                 QString("crontab refused the file: cron refuses line 1, “60 1 * * * /bin/old”: “60” is not a minute: "
                         "cron takes 0–59."));
        QCOMPARE(installedCrontab(*root), std::string("60 1 * * * /bin/old\n"));
        {
            HeldThreadPool held;
            sheet.get<QPushButton>("addButton")->click();
            QVERIFY(!sheet.view.failure());
            QVERIFY(sheet.get<QLabel>("failureText")->isHidden());
        }
        QVERIFY(saved(store));
    }

    // Wrapped to more lines than the bar once allowed, every line can be read: the label is as tall as
    // its text, and what the area cannot show it scrolls to.
    void aLongFailureIsShownWhole() {
        QVERIFY(installCrontab(*root, "0 1 * * * /bin/old\n"));
        CrontabStore store;
        QVERIFY(reloaded(store));
        Sheet sheet(store);
        sheet.view.show();
        sheet.type("commandField", "/bin/x");
        QVERIFY(installCrontab(*root, "0 1 * * * /bin/old\n0 2 * * * /bin/from-crontab-e\n"));
        sheet.get<QPushButton>("addButton")->click();
        QVERIFY(QTest::qWaitFor([&] { return sheet.view.failure().has_value(); }, 60000));
        auto* text = sheet.get<QLabel>("failureText");
        QVERIFY(text->text().startsWith("Your crontab changed outside Quillwick"));
        QVERIFY(text->heightForWidth(text->width()) > 2 * text->fontMetrics().lineSpacing());
        auto* area = sheet.get<QScrollArea>("failureArea");
        QTRY_VERIFY_WITH_TIMEOUT(text->height() >= text->heightForWidth(text->width()), 10000);
        QVERIFY(area->viewport()->height() + area->verticalScrollBar()->maximum() >= text->height());
        QVERIFY(area->geometry().bottom() <= sheet.view.height());
        keepScreenshot(sheet.view, "new-cron-entry-refused");
    }
};

}  // namespace qw::test

QTEST_MAIN(qw::test::NewCronJobViewTest)
#include "NewCronJobViewTest.moc"

// Each key's control, driven as the user drives it, down to the bytes the draft would be saved as.
#include <limits>

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QToolButton>

#include "Quillwick/editing/CalendarIntervalEditor.h"
#include "Quillwick/editing/DictionaryEditor.h"
#include "Quillwick/editing/KeepAliveEditor.h"
#include "Quillwick/editing/KeyEditor.h"
#include "Quillwick/editing/PathField.h"
#include "Quillwick/editing/StringListEditor.h"
#include "Quillwick/ui/AccessibleToggles.h"
#include "support/SandboxRoot.h"

using namespace qw;

namespace {

// A draft and the editor of one of its keys.
struct Row {
    JobDefinition draft;
    std::unique_ptr<KeyEditor> editor;

    Row(std::string_view name, PlistDictionary root, bool editable = true)
        : draft(PlistFile(std::move(root), PlistFormat::xml)) {
        Binding<JobDefinition> binding{[this] { return draft; },
                                       [this](JobDefinition d) {
                                           draft = std::move(d);
                                           editor->refresh();
                                       }};
        editor = std::make_unique<KeyEditor>(*LaunchdSchema::key(name), binding, editable);
        editor->show();
    }
    QString bytes() const { return QString::fromStdString(draft.file.data()); }
    template <typename T>
    T* find(const QString& name = {}) const {
        T* widget = editor->findChild<T*>(name);
        if (!widget) qFatal("no such widget");
        return widget;
    }
};

void typeInto(QLineEdit* edit, const QString& text) {
    edit->selectAll();
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Return);
}

}  // namespace

class KeyEditorTest : public QObject {
    Q_OBJECT
private slots:
    void togglesAndNumbersWriteTheirOwnKind() {
        Row toggle("RunAtLoad", {{"RunAtLoad", 1}});
        QVERIFY(toggle.find<QCheckBox>()->isChecked());
        toggle.find<QCheckBox>()->click();
        QVERIFY(toggle.bytes().contains("<key>RunAtLoad</key>\n\t<false/>"));

        Row number("StartInterval", {{"StartInterval", 3600.9}});
        auto* edit = number.find<QLineEdit>("integerEdit");
        QCOMPARE(edit->text(), QLocale().toString(3600));
        QCOMPARE(*number.draft["StartInterval"], PlistValue(3600.9));  // shown, not written
        typeInto(edit, "60");
        QVERIFY(number.bytes().contains("<key>StartInterval</key>\n\t<integer>60</integer>"));
    }

    // What launchd would not take stays in the field, marked with why, and the key keeps its value; the
    // whole range a job file holds is taken, in a field and in a resource limit alike.
    void numbersLaunchdIgnoresAreMarkedAndKeptOutOfTheDraft() {
        Row number("StartInterval", {{"StartInterval", 60}});
        auto* edit = number.find<QLineEdit>("integerEdit");
        auto* mark = number.find<QLabel>("invalidMark");
        auto* reason = number.find<QLabel>("invalidReason");
        const std::pair<QString, QString> refusals[] = {{"-5", "Must be 1 or more"},
                                                         {"12x", "Not a whole number a job file can hold"}};
        for (const auto& [typed, why] : refusals) {
            typeInto(edit, typed);
            QCOMPARE(*number.draft["StartInterval"], PlistValue(60));
            QCOMPARE(edit->text(), typed);
            QVERIFY(mark->isVisible() && reason->isVisible());
            QCOMPARE(reason->text(), why + ", so StartInterval stays as it was.");
        }
        QCOMPARE(mark->accessibleName(), reason->text());

        const std::uint64_t top = std::numeric_limits<std::uint64_t>::max();
        typeInto(edit, "18446744073709551615");
        QCOMPARE(*number.draft["StartInterval"], PlistValue(top));
        QVERIFY(number.bytes().contains("<integer>18446744073709551615</integer>"));
        QCOMPARE(edit->text(), QLocale().toString(qulonglong(top)));
        QVERIFY(!mark->isVisible());

        Row stored("Nice", {{"Nice", 40}});
        QCOMPARE(stored.find<QLabel>("invalidReason")->text(), QString("Must be from -20 to 20: launchd ignores this value."));

        const PlistValue core = PlistValue::dictionary({{"Core", top}, {"NumberOfFiles", 10}});
        Row limits("HardResourceLimits", {{"HardResourceLimits", core}});
        auto* numbers = qobject_cast<DictionaryEditor*>(limits.editor->control());
        auto* files = numbers->findChild<QWidget*>("row:NumberOfFiles")->findChild<QLineEdit*>("valueEdit");
        files->selectAll();
        QTest::keyClicks(files, "20");
        QCOMPARE(*limits.draft["HardResourceLimits"], PlistValue::dictionary({{"Core", top}, {"NumberOfFiles", 20}}));
    }

    void pickersKeepAValueTheyDoNotOfferUntilAnotherIsChosen() {
        Row row("ProcessType", {{"ProcessType", "Odd"}});
        auto* box = row.find<QComboBox>();
        QCOMPARE(box->currentText(), QString("Odd"));
        QCOMPARE(box->itemText(box->count() - 1), QString("Odd"));
        QCOMPARE(*row.draft["ProcessType"], PlistValue("Odd"));
        const int background = box->findText("Background");
        box->setCurrentIndex(background);
        emit box->activated(background);
        QVERIFY(row.bytes().contains("<key>ProcessType</key>\n\t<string>Background</string>"));
        QCOMPARE(box->findText("Odd"), -1);

        // Two session types do not fit a picker: both stay, shown as a list.
        Row sessions("LimitLoadToSessionType", {{"LimitLoadToSessionType", PlistValue::array({"Aqua", "Background"})}});
        auto* list = qobject_cast<StringListEditor*>(sessions.editor->control());
        QVERIFY(list);
        QCOMPARE(list->values(), QStringList({"Aqua", "Background"}));
        list->findChild<QWidget*>("row1")->findChild<QToolButton*>("removeButton")->click();
        QCOMPARE(*sessions.draft["LimitLoadToSessionType"], PlistValue::array({"Aqua"}));
        QVERIFY(sessions.editor->findChild<QComboBox*>());
    }

    void listsAddTypeAndRemoveRows() {
        Row row("WatchPaths", {{"WatchPaths", PlistValue::array({"/a"})}});
        auto* list = qobject_cast<StringListEditor*>(row.editor->control());
        list->findChild<QToolButton*>("addButton")->click();
        QTest::keyClicks(list->findChild<QWidget*>("row1")->findChild<QLineEdit*>(), "/b");
        QCOMPARE(*row.draft["WatchPaths"], PlistValue::array({"/a", "/b"}));
        for (int i = 0; i < 2; ++i) list->findChild<QWidget*>("row0")->findChild<QToolButton*>("removeButton")->click();
        QVERIFY(row.bytes().contains("<key>WatchPaths</key>\n\t<array/>"));
        QVERIFY(list->findChild<QLabel*>("emptyNote")->isVisibleTo(list));

        // In a path list of arguments only the program is a path.
        StringListEditor args("ProgramArguments", true);
        args.setValues({"/bin/tool", "-v", "-q"});
        QVERIFY(args.findChild<QWidget*>("row0")->findChild<PathField*>());
        QVERIFY(!args.findChild<QWidget*>("row2")->findChild<PathField*>());
    }

    void dictionaryKeysAreRenamedInPlaceAndBadNamesRefused() {
        Row row("EnvironmentVariables", {{"EnvironmentVariables", PlistValue::dictionary({{"HOME", "/h"}, {"N", 2}})}});
        auto* dictionary = qobject_cast<DictionaryEditor*>(row.editor->control());
        QCOMPARE(dictionary->entries().size(), size_t(1));  // the number is not text, so not shown
        dictionary->findChild<QToolButton*>("addButton")->click();
        auto* newKey = dictionary->findChild<QWidget*>("row:NEW_KEY")->findChild<QLineEdit*>("keyEdit");
        typeInto(newKey, "PATH");
        auto* value = dictionary->findChild<QWidget*>("row:PATH")->findChild<QLineEdit*>("valueEdit");
        QTest::keyClicks(value, "/bin");
        QCOMPARE(*row.draft["EnvironmentVariables"], PlistValue::dictionary({{"HOME", "/h"}, {"PATH", "/bin"}}));

        // A refused name comes back, with the reason under it until that name is typed into again.
        auto* homeRow = dictionary->findChild<QWidget*>("row:HOME");
        auto* home = homeRow->findChild<QLineEdit*>("keyEdit");
        auto* refusal = homeRow->findChild<QLabel*>("renameProblem");
        QVERIFY(refusal);
        typeInto(home, "PATH");
        QCOMPARE(home->text(), QString("HOME"));
        QTest::keyClicks(homeRow->findChild<QLineEdit*>("valueEdit"), "e");
        QTRY_VERIFY(refusal->isVisible());
        QCOMPARE(refusal->text(), QString("There is already a key named “PATH”."));
        home->selectAll();
        QTest::keyClick(home, Qt::Key_Backspace);
        QTest::keyClick(home, Qt::Key_Return);
        QCOMPARE(dictionary->problem(), QString("A key cannot be empty."));

        dictionary->findChild<QWidget*>("row:HOME")->findChild<QToolButton*>("removeButton")->click();
        QVERIFY(row.bytes().contains("<key>EnvironmentVariables</key>\n\t<dict>\n\t\t<key>PATH</key>\n\t\t<string>/bin</string>\n\t</dict>"));

        Row limits("SoftResourceLimits", {{"SoftResourceLimits", PlistValue::dictionary({{"NumberOfFiles", 256.9}})}});
        auto* numbers = qobject_cast<DictionaryEditor*>(limits.editor->control());
        auto* files = numbers->findChild<QWidget*>("row:NumberOfFiles")->findChild<QLineEdit*>("valueEdit");
        QCOMPARE(files->text(), QString("256"));
        files->selectAll();
        QTest::keyClicks(files, "300");
        QCOMPARE(*limits.draft["SoftResourceLimits"], PlistValue::dictionary({{"NumberOfFiles", 300}}));
    }

    // What the editor shows is what the draft holds: "Restart when…" with nothing ticked is an empty
    // dictionary, which restarts on nothing, whether chosen or left by unticking the last condition.
    void keepAliveShowsOnlyTheValueTheDraftHolds() {
        Row row("KeepAlive", {{"KeepAlive", true}});
        auto* editor = qobject_cast<KeepAliveEditor*>(row.editor->control());
        auto* conditional = editor->findChild<QToolButton*>("mode2");
        conditional->click();
        QVERIFY(row.bytes().contains("<key>KeepAlive</key>\n\t<dict/>"));
        QVERIFY(conditional->isChecked());
        QCOMPARE(editor->findChild<QLabel*>("summary")->text(), QString("This job is not restarted when it stops."));
        auto* crash = editor->findChild<QCheckBox*>("condition2");
        QVERIFY(crash->isVisibleTo(editor) && !crash->isChecked());
        crash->click();
        QVERIFY(row.bytes().contains("<key>KeepAlive</key>\n\t<dict>\n\t\t<key>Crashed</key>\n\t\t<true/>"));
        conditional->click();  // already chosen: the condition stays
        QVERIFY(crash->isChecked() && row.bytes().contains("<key>Crashed</key>"));
        crash->click();
        QVERIFY(row.bytes().contains("<key>KeepAlive</key>\n\t<dict/>"));
        QVERIFY(conditional->isChecked() && crash->isVisibleTo(editor));
        editor->findChild<QToolButton*>("mode1")->click();
        QVERIFY(row.bytes().contains("<key>KeepAlive</key>\n\t<true/>"));
        QCOMPARE(editor->findChild<QLabel*>("summary")->text(), QString("This job is restarted whenever it stops."));
    }

    // A screen reader's Toggle is the user's click: the choice it shows is the one stored.
    void aToggleFromAScreenReaderEditsAsAClickDoes() {
        installAccessibleToggles();
        const auto toggle = [](QAbstractButton* button) {
            QAccessibleActionInterface* actions = QAccessible::queryAccessibleInterface(button)->actionInterface();
            QCOMPARE(actions->actionNames().front(), QAccessibleActionInterface::toggleAction());
            actions->doAction(QAccessibleActionInterface::toggleAction());
        };
        Row keepAlive("KeepAlive", {{"KeepAlive", true}});
        auto* conditional = keepAlive.find<QToolButton>("mode2");
        toggle(conditional);
        QVERIFY(conditional->isChecked() && keepAlive.bytes().contains("<key>KeepAlive</key>\n\t<dict/>"));
        QAccessibleInterface* heard = QAccessible::queryAccessibleInterface(conditional);
        QVERIFY(heard->state().checked);
        QCOMPARE(heard->text(QAccessible::Name), QString("Restart when…"));
        // Heard by its own words, not by the title of the box it sits in.
        QGroupBox box(QStringLiteral("What"));
        auto* choose = new QPushButton(QStringLiteral("&Choose…"), &box);
        QCOMPARE(QAccessible::queryAccessibleInterface(choose)->text(QAccessible::Name), QString("Choose…"));
        Row runAtLoad("RunAtLoad", {{"RunAtLoad", false}});
        toggle(runAtLoad.find<QCheckBox>());
        QVERIFY(runAtLoad.bytes().contains("<key>RunAtLoad</key>\n\t<true/>"));
    }

    // Qt on Linux names a picker by its value; the key has to come from what labels it.
    void everyPickerIsHeardByItsKeyAndItsValue() {
        installAccessibleToggles();
        const auto labels = [](QWidget* control) {
            QStringList names;
            for (const auto& [label, relation] : QAccessible::queryAccessibleInterface(control)->relations(QAccessible::Label))
                names << label->text(QAccessible::Name);
            return names;
        };
        int pickers = 0;
        for (const LaunchdSchema::Key& key : LaunchdSchema::allKeys()) {
            if (!key.allowedValues) continue;
            Row row(key.name, {{key.name, key.allowedValues->back()}});
            auto* box = row.editor->findChild<QComboBox*>();
            if (!box) continue;
            ++pickers;
            QCOMPARE(labels(box), QStringList{QString::fromStdString(key.name)});
            QCOMPARE(QAccessible::queryAccessibleInterface(box)->text(QAccessible::Value), QString::fromStdString(key.allowedValues->back()));
        }
        QVERIFY(pickers >= 2);
        Row keepAlive("KeepAlive", {{"KeepAlive", true}});
        for (auto* segment : keepAlive.editor->findChildren<QToolButton*>(QRegularExpression("^mode")))
            QCOMPARE(labels(segment), QStringList{"KeepAlive"});
    }

    void calendarRowsRefuseOutOfRangeValuesAndTheLastRemovalDropsTheKey() {
        Row row("StartCalendarInterval", {{"StartCalendarInterval", PlistValue(PlistArray{})}});
        auto* calendar = qobject_cast<CalendarIntervalEditor*>(row.editor->control());
        calendar->findChild<QToolButton*>("addButton")->click();
        QCOMPARE(*row.draft["StartCalendarInterval"], PlistValue::dictionary({{"Minute", 0}, {"Hour", 9}}));
        auto* hour = calendar->findChild<QWidget*>("interval0")->findChild<QLineEdit*>("Hour");
        typeInto(hour, "24");
        QCOMPARE(hour->text(), QString("9"));
        typeInto(hour, "05");
        QCOMPARE(hour->text(), QString("5"));
        QCOMPARE(calendar->findChild<QWidget*>("interval0")->findChild<QLabel*>("summary")->text(), QString("at 05:00"));
        calendar->findChild<QWidget*>("interval0")->findChild<QToolButton*>("removeButton")->click();
        QVERIFY(!row.bytes().contains("StartCalendarInterval"));
    }

    void pathFieldsMarkWhatExistsAndFolderKeysChooseFolders() {
        test::TemporaryFolder folder;
        Row row("WorkingDirectory", {{"WorkingDirectory", (folder.path() / "missing").string()}});
        auto* field = row.editor->findChild<PathField*>();
        QCOMPARE(field->exists(), std::optional<bool>(false));
        QCOMPARE(field->findChild<QLabel*>("existenceMark")->toolTip(), QString("Nothing exists at this path."));
        QTest::keyClicks(field->findChild<QLineEdit*>(), "x");
        field->findChild<QLineEdit*>()->setText("~/Library");
        field->checkExists();
        QCOMPARE(field->exists(), std::nullopt);

        QVERIFY(field->wantsDirectory());
        field->findChild<QLineEdit*>()->setText(QString::fromStdString((folder.path() / "x").string()));
        field->choose();
        QFileDialog* dialog = field->dialog();
        QVERIFY(dialog);
        QCOMPARE(dialog->fileMode(), QFileDialog::Directory);
        QCOMPARE(dialog->directory().absolutePath(), QString::fromStdString((folder.path()).string()));
        emit dialog->fileSelected(QString::fromStdString(folder.path().string()));
        dialog->reject();
        QCOMPARE(*row.draft.workingDirectory(), folder.path().string());
        QCOMPARE(field->exists(), std::optional<bool>(true));

        Row output("StandardOutPath", {{"StandardOutPath", "/tmp/out"}});
        QVERIFY(!output.editor->findChild<PathField*>()->wantsDirectory());
    }

    void aReadOnlyRowOffersNoChangeButStillExplains() {
        Row row("KeepAlive", {{"KeepAlive", true}}, false);
        QVERIFY(!row.editor->control()->isEnabled());
        QVERIFY(!row.editor->findChild<QToolButton*>("removeKeyButton"));
        auto* more = row.editor->findChild<QToolButton*>("moreButton");
        QVERIFY(more);
        more->click();
        QVERIFY(row.editor->findChild<QLabel*>("detail")->isVisible());
        QCOMPARE(more->text(), QString("Less"));

        Row label("Label", {{"Label", "a"}});
        QVERIFY(!label.editor->findChild<QToolButton*>("removeKeyButton"));
    }
};

QTEST_MAIN(KeyEditorTest)
#include "KeyEditorTest.moc"

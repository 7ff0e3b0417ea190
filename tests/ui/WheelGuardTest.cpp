// The wheel over an unfocused picker or stepper scrolls the form around it instead of changing it.
#include <QComboBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QSpontaneKeyEvent>
#include <QTest>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "Quillwick/ui/WheelGuard.h"

using namespace qw;

namespace {

// One notch down, as the window system delivers it.
void wheelDown(QWidget* target) {
    const QPointF at(target->width() / 2.0, target->height() / 2.0);
    QWheelEvent wheel(at, target->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QSpontaneKeyEvent::setSpontaneous(&wheel);
    qApp->notify(target, &wheel);  // sendEvent would make it a synthesized event, which never propagates
}

}  // namespace

class WheelGuardTest : public QObject {
    Q_OBJECT
private slots:
    void theWheelScrollsPastUnfocusedControls() {
        QScrollArea scroll;
        auto* form = new QWidget;
        auto* rows = new QVBoxLayout(form);
        auto* picker = new QComboBox;
        picker->addItems({"Background", "Standard", "Adaptive", "Interactive"});
        auto* stepper = new QSpinBox;
        rows->addWidget(picker);
        rows->addSpacing(2000);
        scroll.setWidget(form);
        scroll.resize(300, 200);
        guardWheel(&scroll);
        rows->addWidget(stepper);  // a control added later is guarded too
        scroll.show();
        scroll.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&scroll));
        scroll.setFocus();

        wheelDown(picker);
        QCOMPARE(picker->currentIndex(), 0);
        QVERIFY(!picker->hasFocus());
        QVERIFY(scroll.verticalScrollBar()->value() > 0);
        scroll.ensureWidgetVisible(stepper);
        wheelDown(stepper);
        QCOMPARE(stepper->value(), 0);

        // With focus the control is the user's to turn.
        picker->setFocus();
        wheelDown(picker);
        QCOMPARE(picker->currentIndex(), 1);
    }
};

QTEST_MAIN(WheelGuardTest)
#include "WheelGuardTest.moc"

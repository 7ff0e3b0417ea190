#include "Quillwick/ui/Hint.h"

#include <algorithm>

#include <QFrame>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

#include "Quillwick/ui/Markup.h"
#include "Quillwick/ui/Style.h"
#include "Quillwick/ui/Symbols.h"

namespace qw {

Hint::Hint(QString title, QString text, QWidget* parent)
    : QToolButton(parent), title_(std::move(title)), text_(std::move(text)) {
    setObjectName("hint");
    setAutoRaise(true);
    setIcon(symbolIcon("questionmark.circle", secondaryColor()));
    setToolTip(QString(title_).remove(QStringLiteral("**")).toHtmlEscaped());
    setAccessibleName(QString(title_).remove(QStringLiteral("**")));
    setCursor(Qt::ArrowCursor);
    connect(this, &QToolButton::clicked, this, &Hint::toggle);
}

Hint::Hint(const Content& content, QWidget* parent) : Hint(content.title, content.text, parent) {}

bool Hint::isShowing() const { return popover_ && popover_->isVisible(); }

void Hint::toggle() {
    if (popover_) {
        popover_->close();
        return;
    }
    auto* frame = new QFrame(this, Qt::Popup);
    frame->setObjectName("hintPopover");
    frame->setAttribute(Qt::WA_DeleteOnClose);
    // A click on this button closes the popover without opening it again.
    frame->setAttribute(Qt::WA_NoMouseReplay);
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFixedWidth(340);
    auto* layout = new QVBoxLayout(frame);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(8);
    auto* heading = new QLabel(title_, frame);
    heading->setObjectName("hintTitle");
    heading->setTextFormat(Qt::PlainText);
    heading->setFont(headlineFont());
    heading->setWordWrap(true);
    auto* body = new QLabel(markupToHtml(text_), frame);
    body->setObjectName("hintText");
    body->setTextFormat(Qt::RichText);
    body->setWordWrap(true);
    body->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(heading);
    layout->addWidget(body);
    frame->adjustSize();
    frame->setFixedHeight(frame->heightForWidth(340) > 0 ? frame->heightForWidth(340) : frame->sizeHint().height());

    // Above the button, its arrow edge at the bottom; below when there is no room above.
    const QPoint top = mapToGlobal(QPoint(width() / 2, 0));
    QPoint at(top.x() - frame->width() / 2, top.y() - frame->height());
    if (QScreen* s = screen()) {
        const QRect area = s->availableGeometry();
        if (at.y() < area.top())
            at.setY(mapToGlobal(QPoint(0, height())).y());
        at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() - frame->width())));
    }
    frame->move(at);
    popover_ = frame;
    frame->show();
}

const Hint::Content& Hint::loadedVersusEnabled() {
    static const Content c{
        "Loaded and Enabled are different",
        "**Loaded** means launchd knows about this job right now. Unloading is temporary — an agent is loaded "
        "again at your next login, and a daemon at the next restart.\n\n**Enabled** is a record in launchd's own "
        "database, kept separately from the job's file. A disabled job refuses to load at all, and the record "
        "outlives the file: delete the plist, create it again, and it is still disabled.\n\nSo to stop something "
        "for now, unload it. To stop it for good, disable it."};
    return c;
}

const Hint::Content& Hint::domains() {
    static const Content c{
        "Domains",
        "Every job belongs to a domain. **gui/501** is your login session, where agents run as you and only while "
        "you are logged in. **system** is root's, where daemons run from startup whether or not anyone logs "
        "in.\n\nThe domain decides who can change a job, which is why editing an agent never asks for a password "
        "and editing a daemon always does."};
    return c;
}

const Hint::Content& Hint::jobsWithNoFile() {
    static const Content c{
        "Jobs with no file",
        "Some jobs have no plist anywhere. An app registered them directly with the system through "
        "**SMAppService**, and macOS lists them under the app's name in Login Items.\n\nThey can be started and "
        "stopped like any other job, but there is nothing on disk to edit — to remove one, use the app that "
        "installed it."};
    return c;
}

const Hint::Content& Hint::cronDisabling() {
    static const Content c{
        "cron has no idea of disabling an entry",
        "There is no enabled flag in a crontab. The convention — and what this switch does — is to comment the "
        "line out with a **#**, leaving it in the file so you can turn it back on without retyping it.\n\ncron "
        "itself only runs when somebody has a crontab: its launchd job watches `/usr/lib/cron/tabs` and starts on "
        "demand. A Mac with no cron jobs has no cron process, which is correct rather than broken."};
    return c;
}

const Hint::Content& Hint::jobOutput() {
    static const Content c{
        "Where a job's output goes",
        "Nowhere, unless it is asked for. launchd throws away whatever a program prints unless the job sets "
        "**StandardOutPath** or **StandardErrorPath**, and the unified log does not have it either — that only "
        "holds what a program deliberately sends to `os_log`.\n\nOn a stock macOS install, 9 of 909 launchd jobs "
        "set either key. If you are trying to find out why something fails, adding one is usually the fastest "
        "way."};
    return c;
}

}  // namespace qw

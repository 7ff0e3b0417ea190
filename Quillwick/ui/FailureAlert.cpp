#include "Quillwick/ui/FailureAlert.h"

#include <algorithm>

#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTextDocument>
#include <QTextOption>

namespace qw {
namespace {

// The message as the alert shows it. A word wider than the box (a long label) breaks where it must, as
// a path breaks after its slashes; QLabel breaks only between words and cut such a word at the box's
// edge. The text itself, which a screen reader reads and a copy takes, stays as written.
class MessageLabel : public QLabel {
public:
    explicit MessageLabel(const QString& text) : QLabel(text) {
        setObjectName("alertMessage");
        setTextFormat(Qt::PlainText);
        // Selectable, so the label lays its text out in a document whose wrapping can be set.
        setTextInteractionFlags(Qt::TextSelectableByMouse);
        setAlignment(Qt::AlignTop | Qt::AlignLeft);
        setWordWrap(true);
        setContentsMargins(0, 7, 0, 7);
        QSizePolicy policy(QSizePolicy::Minimum, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
    }
    QSize sizeHint() const override {
        keepWrapping();
        return QLabel::sizeHint();
    }
    QSize minimumSizeHint() const override {
        keepWrapping();
        // QLabel asks for room for its longest word; here that word breaks instead.
        const QSize least = QLabel::minimumSizeHint();
        return {std::min(least.width(), QLabel::sizeHint().width()), least.height()};
    }
    int heightForWidth(int width) const override {
        keepWrapping();
        return QLabel::heightForWidth(width);
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        keepWrapping();
        QLabel::paintEvent(event);
    }

private:
    // QLabel sets its document's wrapping again whenever it lays the text out anew (after every
    // resize, or polishing): let it do that now, then set ours.
    void keepWrapping() const {
        ensurePolished();
        QLabel::heightForWidth(width());
        auto* document = findChild<QTextDocument*>();
        if (!document || document->defaultTextOption().wrapMode() == QTextOption::WrapAtWordBoundaryOrAnywhere)
            return;
        QTextOption option = document->defaultTextOption();
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        document->setDefaultTextOption(option);
    }
};

// Shows `message` in place of one of the box's own labels (the informative one unless named), which
// keeps its text but is hidden.
MessageLabel* showMessage(QMessageBox* box, const QString& message, const char* label = "qt_msgbox_informativelabel") {
    auto* grid = qobject_cast<QGridLayout*>(box->layout());
    auto* own = box->findChild<QLabel*>(label);
    const int index = grid && own ? grid->indexOf(own) : -1;
    if (index < 0)
        return nullptr;
    int row = 0, column = 0, rows = 0, columns = 0;
    grid->getItemPosition(index, &row, &column, &rows, &columns);
    own->hide();
    auto* shown = new MessageLabel(message);
    grid->addWidget(shown, row, column, rows, columns);
    return shown;
}

QString asHtml(const QString& plain) { return Qt::convertFromPlainText(plain, Qt::WhiteSpaceNormal); }

}  // namespace

QMessageBox* showAlert(QWidget* parent, const QString& title, const QString& message) {
    auto* box = new QMessageBox(parent);
    box->setObjectName("alert");
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    box->setIcon(QMessageBox::Warning);
    box->setWindowTitle(title);
    box->setText(title);
    box->setTextFormat(Qt::PlainText);
    // The informative label guesses its format; convert so a message is never read as HTML.
    box->setInformativeText(asHtml(message));
    QPushButton* ok = box->addButton(QStringLiteral("OK"), QMessageBox::RejectRole);
    box->setDefaultButton(ok);
    box->setEscapeButton(ok);
    showMessage(box, message);
    box->open();
    return box;
}

QMessageBox* showQuestion(QWidget* parent, const QString& question, const QString& message) {
    QMessageBox* box = showAlert(parent, question, message);
    if (MessageLabel* shown = showMessage(box, question, "qt_msgbox_label")) {
        shown->setObjectName("alertQuestion");
        QFont bold = shown->font();
        bold.setBold(true);
        shown->setFont(bold);
    }
    box->buttons().front()->setText(QStringLiteral("Cancel"));
    return box;
}

QMessageBox* showFailure(QWidget* parent, const QString& message) {
    QMessageBox* box = showAlert(parent, QStringLiteral("That didn’t work"), message);
    box->setObjectName("failureAlert");
    return box;
}

}  // namespace qw

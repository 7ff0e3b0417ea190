#include "Quillwick/ui/FailureAlert.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBoundaryFinder>
#include <QTextDocument>

namespace qw {
namespace {

// The text with a break allowed between every two characters of each piece that cannot be broken and is
// wider than `room` (a long label; a path still breaks after its slashes).
QString breakableWords(const QString& text, const QFontMetrics& metrics, int room) {
    QString out;
    QTextBoundaryFinder lines(QTextBoundaryFinder::Line, text);
    qsizetype from = 0;
    for (qsizetype to = lines.toNextBoundary(); to > 0; to = lines.toNextBoundary()) {
        const QString piece = text.mid(from, to - from);
        from = to;
        if (metrics.horizontalAdvance(piece.trimmed()) <= room) {
            out += piece;
            continue;
        }
        QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, piece);
        qsizetype at = 0;
        for (qsizetype next = characters.toNextBoundary(); next > 0; next = characters.toNextBoundary()) {
            if (at > 0)
                out += QChar(0x200B);  // zero-width space: a break opportunity that shows nothing
            out += piece.mid(at, next - at);
            at = next;
        }
    }
    return out;
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
    box->open();
    // The label wraps only between words, and the box grows only so far: a longer word was cut at the
    // box's edge. Now that the box has its width, such words may break anywhere.
    if (auto* label = box->findChild<QLabel*>("qt_msgbox_informativelabel")) {
        const QString fitted = breakableWords(message, label->fontMetrics(), label->contentsRect().width());
        if (fitted != message)
            box->setInformativeText(asHtml(fitted));
    }
    return box;
}

QMessageBox* showFailure(QWidget* parent, const QString& message) {
    QMessageBox* box = showAlert(parent, QStringLiteral("That didn’t work"), message);
    box->setObjectName("failureAlert");
    return box;
}

}  // namespace qw

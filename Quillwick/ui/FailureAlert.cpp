#include "Quillwick/ui/FailureAlert.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBoundaryFinder>
#include <QTextDocument>

namespace qw {
namespace {

// Words wider than `room` (a long path or label) with a break allowed between every two characters.
QString breakableWords(const QString& text, const QFontMetrics& metrics, int room) {
    QString out;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = start;
        while (end < text.size() && !text[end].isSpace())
            ++end;
        const QString word = text.mid(start, end - start);
        if (metrics.horizontalAdvance(word) <= room) {
            out += word;
        } else {
            QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, word);
            qsizetype from = 0;
            for (qsizetype to = characters.toNextBoundary(); to > 0; to = characters.toNextBoundary()) {
                if (from > 0)
                    out += QChar(0x200B);  // zero-width space: a break opportunity that shows nothing
                out += word.mid(from, to - from);
                from = to;
            }
        }
        while (end < text.size() && text[end].isSpace())
            out += text[end++];
        start = end;
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

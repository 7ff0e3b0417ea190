// Hint: the small question-mark button beside a control that is easy to misread. Hovering shows
// the title; clicking opens a popover with the title and the explanation.
#pragma once

#include <QPointer>
#include <QString>
#include <QFrame>
#include <QToolButton>


namespace qw {

class Hint : public QToolButton {
    Q_OBJECT
public:
    struct Content {
        QString title;  // may hold "**" markers, left out of the tooltip
        QString text;   // light markup; paragraphs apart by a blank line
    };

    Hint(QString title, QString text, QWidget* parent = nullptr);
    Hint(const Content& content, QWidget* parent = nullptr);

    static const Content& loadedVersusEnabled();
    static const Content& domains();
    static const Content& jobsWithNoFile();
    static const Content& cronDisabling();
    static const Content& jobOutput();

    QString title() const { return title_; }
    QString text() const { return text_; }
    bool isShowing() const;
    // The open popover, for tests; null while it is closed.
    QFrame* popover() const { return popover_; }

private:
    void toggle();

    QString title_;
    QString text_;
    QPointer<QFrame> popover_;
};

}  // namespace qw

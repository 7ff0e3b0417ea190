// ElidedLabel: one line of plain text that loses its middle, not its end, when it is narrower than the
// text; the whole text stays in the tooltip.
#pragma once

#include <QLabel>

namespace qw {

class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    void setFullText(const QString& text);
    const QString& fullText() const { return full_; }
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();
    QString full_;
};

}  // namespace qw

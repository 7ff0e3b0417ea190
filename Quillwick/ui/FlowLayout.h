// FlowLayout: a row of items that goes on in a further line where it is too narrow for them, so a narrow
// pane never cuts one. A stretch takes the rest of its line and pushes what follows to the line's end;
// what follows a stretch moves to the next line as a whole when it does not fit beside what is before.
#pragma once

#include <QLayout>
#include <QList>

namespace qw {

class FlowLayout : public QLayout {
public:
    explicit FlowLayout(QWidget* parent = nullptr);
    ~FlowLayout() override;

    void addStretch();
    void addSpacing(int size);
    // Between lines; spacing() stays the room between items of a line.
    void setLineSpacing(int spacing);

    void addItem(QLayoutItem* item) override;
    int count() const override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    Qt::Orientations expandingDirections() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;
    QSize minimumSize() const override;
    QSize sizeHint() const override;
    void setGeometry(const QRect& rect) override;

private:
    // Lays the items out in `rect` (moving them only when `apply`) and says the height they take.
    int arrange(const QRect& rect, bool apply) const;

    QList<QLayoutItem*> items_;
    int lineSpacing_ = 6;
};

}  // namespace qw

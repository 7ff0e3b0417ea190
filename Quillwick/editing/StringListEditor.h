// StringListEditor: an ordered list of texts under a heading, one row per element (numbered from 0),
// with add and remove buttons. Rows of a path list are path fields — except the arguments after the
// program in a list titled "…Arguments". Every user action hands the owner one whole new list.
#pragma once

#include <QStringList>
#include <QWidget>

class QLabel;
class QToolButton;
class QVBoxLayout;

namespace qw {

class StringListEditor : public QWidget {
    Q_OBJECT
public:
    // `wantsDirectory` makes the path rows choose folders.
    StringListEditor(const QString& title, bool isPath, bool wantsDirectory = false, QWidget* parent = nullptr);

    QStringList values() const { return values_; }
    // From the owner: rows are rebuilt only when their number changes, so typing keeps its place.
    void setValues(const QStringList& values);
    void setEditable(bool editable);

    void append();
    void remove(int index);
    QString element(int index) const;
    void setElement(const QString& text, int index);

signals:
    void valuesEdited(const QStringList& values);

private:
    bool rowIsPath(int index) const;
    // Keeps the focus in the rows; `focusRow` gets it when given.
    void rebuild(int focusRow = -1);
    void update();

    QString title_;
    bool isPath_;
    bool wantsDirectory_;
    bool editable_ = true;
    QStringList values_;
    QToolButton* add_;
    QVBoxLayout* rows_;
    QLabel* empty_;
    QList<QWidget*> fields_;
};

}  // namespace qw

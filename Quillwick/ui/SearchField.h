// SearchField: a search field that keeps the platform's keys — Escape clears what was typed, and Down
// leaves the field for the results below it.
#pragma once

#include <QLineEdit>

namespace qw {

class SearchField : public QLineEdit {
    Q_OBJECT
public:
    explicit SearchField(QWidget* parent = nullptr);

    // The clear button Qt adds to a field shows only a symbol: this gives it a name to be read by.
    static void nameClearButton(QLineEdit* field);

signals:
    // Down was pressed: the owner moves the focus into the results.
    void downPressed();

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace qw

// PathField: one file or folder path as typed, a mark saying whether something exists there, and a
// "Choose…" button that opens a file dialog. The owner sets the path with setPath and hears the
// user's changes through pathEdited; the field never writes anything itself.
#pragma once

#include <optional>

#include <QFileDialog>
#include <QPointer>
#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace qw {

class PathField : public QWidget {
    Q_OBJECT
public:
    explicit PathField(bool wantsDirectory, QWidget* parent = nullptr);

    QString path() const;
    // From the owner: shown as is, with no pathEdited.
    void setPath(const QString& path);
    void setEditable(bool editable);
    bool wantsDirectory() const { return wantsDirectory_; }

    // Unknown for an empty or non-absolute path (no "~" expansion); else whether anything is there,
    // following symbolic links.
    std::optional<bool> exists() const { return exists_; }
    void checkExists();
    // Opens the dialog window-modally, in the folder of the path typed; the choice lands in the field.
    void choose();
    // The open dialog, for tests; null while none is open.
    QFileDialog* dialog() const { return dialog_; }

signals:
    void pathEdited(const QString& path);

private:
    void userChanged(const QString& path);

    bool wantsDirectory_;
    std::optional<bool> exists_;
    QLineEdit* edit_;
    QLabel* mark_;
    QPushButton* choose_;
    QPointer<QFileDialog> dialog_;
};

}  // namespace qw

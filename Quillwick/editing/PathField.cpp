#include "Quillwick/editing/PathField.h"

#include <sys/stat.h>

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "Quillwick/launchd/FileFacts.h"
#include "Quillwick/ui/Style.h"
#include "Quillwick/ui/Symbols.h"
#include "helperkit/SystemPaths.h"

namespace qw {

PathField::PathField(bool wantsDirectory, QWidget* parent)
    : QWidget(parent),
      wantsDirectory_(wantsDirectory),
      edit_(new QLineEdit(this)),
      mark_(new QLabel(this)),
      choose_(new QPushButton(QStringLiteral("Choose…"), this)) {
    edit_->setObjectName(QStringLiteral("pathEdit"));
    mark_->setObjectName(QStringLiteral("existenceMark"));
    choose_->setObjectName(QStringLiteral("chooseButton"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    row->addWidget(edit_, 1);
    row->addWidget(mark_);
    row->addWidget(choose_);
    connect(edit_, &QLineEdit::textEdited, this, &PathField::userChanged);
    connect(choose_, &QPushButton::clicked, this, &PathField::choose);
    checkExists();
}

QString PathField::path() const { return edit_->text(); }

void PathField::setPath(const QString& path) {
    if (edit_->text() != path) edit_->setText(path);
    checkExists();
}

void PathField::setEditable(bool editable) { choose_->setEnabled(editable); }

void PathField::userChanged(const QString& path) {
    checkExists();
    emit pathEdited(path);
}

void PathField::checkExists() {
    const QString path = edit_->text();
    if (path.isEmpty() || !path.startsWith(QLatin1Char('/'))) {
        exists_.reset();
    } else {
        // A folder is the machine's; a file may be a program, found as the stand-ins run it.
        const std::string named = path.toStdString();
        const std::string onMachine =
            wantsDirectory_ ? SystemPaths::current().machinePath(named) : Diagnostics::programFile(named);
        struct stat info {};
        exists_ = ::stat(onMachine.c_str(), &info) == 0;
    }
    mark_->setVisible(exists_.has_value());
    if (!exists_) return;
    const int size = edit_->sizeHint().height() * 2 / 3;
    if (*exists_) {
        mark_->setPixmap(symbolIcon(QStringLiteral("checkmark.circle"), secondaryColor()).pixmap(size, size));
        mark_->setToolTip(QStringLiteral("This exists."));
    } else {
        mark_->setPixmap(symbolIcon(QStringLiteral("exclamationmark.triangle.fill"), orangeColor()).pixmap(size, size));
        mark_->setToolTip(QStringLiteral("Nothing exists at this path."));
    }
}

void PathField::choose() {
    if (dialog_) return;
    auto* dialog = new QFileDialog(window());
    dialog_ = dialog;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setFileMode(wantsDirectory_ ? QFileDialog::Directory : QFileDialog::ExistingFile);
    if (wantsDirectory_) dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setFilter(dialog->filter() | QDir::Hidden);
    if (const QString path = edit_->text(); !path.isEmpty()) dialog->setDirectory(QFileInfo(path).path());
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& chosen) {
        if (chosen.isEmpty()) return;
        edit_->setText(chosen);
        userChanged(chosen);
    });
    dialog->open();
}

}  // namespace qw

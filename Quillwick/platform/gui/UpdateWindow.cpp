#include "Quillwick/platform/gui/UpdateWindow.h"

#include <QApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "Quillwick/platform/gui/ArchiveName.h"
#include "Quillwick/platform/gui/FeedUpdater.h"

namespace qw {
namespace {

QLabel* textLabel(const QString& name, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

}  // namespace

UpdateWindow::UpdateWindow(FeedUpdater& updater)
    : updater_(updater), headline_(textLabel("updateHeadline", this)), message_(textLabel("updateMessage", this)),
      notes_(new QLabel(this)), progress_(new QProgressBar(this)), secondary_(new QPushButton(this)),
      primary_(new QPushButton(this)) {
    setObjectName("updateWindow");
    setWindowTitle("Software Update");
    setFixedWidth(480);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 16);
    layout->setSpacing(16);
    auto* icon = new QLabel(this);
    QIcon symbol = QIcon::fromTheme("system-software-update");
    if (symbol.isNull())
        symbol = QApplication::windowIcon();
    icon->setPixmap(symbol.pixmap(64, 64));
    layout->addWidget(icon, 0, Qt::AlignTop);

    auto* column = new QVBoxLayout;
    column->setSpacing(8);
    QFont bold = headline_->font();
    bold.setWeight(QFont::DemiBold);
    if (bold.pointSizeF() > 0)
        bold.setPointSizeF(bold.pointSizeF() * 1.2);
    headline_->setFont(bold);
    column->addWidget(headline_);
    column->addWidget(message_);
    notes_->setObjectName("updateReleaseNotes");
    notes_->setTextFormat(Qt::RichText);
    // Reached with Tab like the buttons.
    notes_->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    connect(notes_, &QLabel::linkActivated, this, [this](const QString& link) { updater_.openLink(this, QUrl(link)); });
    column->addWidget(notes_);
    progress_->setObjectName("updateProgress");
    progress_->setTextVisible(false);
    column->addWidget(progress_);
    column->addStretch(1);
    column->addSpacing(6);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    secondary_->setObjectName("updateSecondaryButton");
    primary_->setObjectName("updatePrimaryButton");
    primary_->setDefault(true);
    buttons->addWidget(secondary_);
    buttons->addWidget(primary_);
    column->addLayout(buttons);
    layout->addLayout(column, 1);

    // Which step a button takes depends on the state it was pressed in.
    connect(primary_, &QPushButton::clicked, this, [this] {
        if (updater_.status().kind == FeedUpdater::Status::Kind::available)
            updater_.download();
        else if (updater_.status().kind == FeedUpdater::Status::Kind::checking ||
                 updater_.status().kind == FeedUpdater::Status::Kind::downloading)
            updater_.cancel();
        else
            accept();
    });
    connect(secondary_, &QPushButton::clicked, this, [this] {
        if (updater_.status().kind == FeedUpdater::Status::Kind::downloaded)
            updater_.revealDownload();
        else
            reject();
    });
    connect(this, &QDialog::finished, this, [this] {
        if (updater_.status().kind == FeedUpdater::Status::Kind::checking ||
            updater_.status().kind == FeedUpdater::Status::Kind::downloading)
            updater_.cancel();
    });
    connect(&updater_, &FeedUpdater::statusChanged, this, &UpdateWindow::present);
    present();
}

void UpdateWindow::present() {
    using Kind = FeedUpdater::Status::Kind;
    using Failure = FeedUpdater::Status::Failure;
    const FeedUpdater::Status& status = updater_.status();
    const QString app = updater_.appName();
    const QString newer = status.item ? status.item->shortVersion : QString();
    // Cleaned as the saved file's name would be: the feed's own could hide its real extension.
    const QString archive = status.item ? ArchiveName::from(status.item->url, app + u' ' + newer).candidate() : QString();
    QString headline, message, primary = "OK", secondary;
    bool progress = false, notes = false;
    switch (status.kind) {
    case Kind::idle:
        hide();
        return;
    case Kind::checking:
        headline = "Checking for updates…";
        primary = "Cancel";
        progress = true;
        progress_->setRange(0, 0);
        break;
    case Kind::upToDate:
        headline = "You’re up to date.";
        message = QStringLiteral("%1 %2 is the newest version.").arg(app, updater_.shortVersion());
        break;
    case Kind::available:
        headline = QStringLiteral("A new version of %1 is available.").arg(app);
        message = QStringLiteral("%1 %2 is out; you have %3. Download it now?").arg(app, newer, updater_.shortVersion());
        primary = "Download";
        secondary = "Not Now";
        notes = !status.item->releaseNotes.isEmpty();
        break;
    case Kind::downloading:
        headline = QStringLiteral("Downloading %1 %2…").arg(app, newer);
        if (status.total > 0)
            message = QStringLiteral("%1 of %2").arg(QLocale().formattedDataSize(status.received),
                                                     QLocale().formattedDataSize(status.total));
        primary = "Cancel";
        progress = true;
        progress_->setRange(0, status.total > 0 ? 1000 : 0);
        if (status.total > 0)
            progress_->setValue(int(std::min<qint64>(1000, status.received * 1000 / status.total)));
        break;
    case Kind::downloaded:
        headline = QStringLiteral("%1 %2 is downloaded.").arg(app, newer);
        message = QStringLiteral("Its signature checks out. It is in your Downloads folder as “%1”. %2 doesn’t "
                                 "install updates itself: quit it and put the new version in its place.")
                      .arg(QFileInfo(status.savedPath).fileName(), app);
        primary = "Done";
        secondary = "Show in File Manager";
        break;
    case Kind::refused:
        headline = "The download was refused.";
        message = QStringLiteral("“%1” is not signed with %2’s key, so it was not saved. Nothing was installed.")
                      .arg(archive, app);
        break;
    case Kind::failed: {
        const bool check = !status.whileDownloading;
        headline = check ? QStringLiteral("%1 couldn’t check for updates.").arg(app)
                         : QStringLiteral("%1 %2 couldn’t be downloaded.").arg(app, newer);
        const QString server = check ? QStringLiteral("The update server") : QStringLiteral("The server");
        switch (status.failure) {
        case Failure::feed:
        case Failure::undecodable:
            message = check ? QStringLiteral("The update feed couldn’t be read (%1).")
                            : QStringLiteral("The server’s answer couldn’t be read (%1).");
            break;
        case Failure::server:
            message = server + QStringLiteral(" answered with an error (%1).");
            break;
        case Failure::redirect:
            message = server + QStringLiteral(" redirected the request, and the redirect was refused (%1).");
            break;
        case Failure::saving:
            message = QStringLiteral("It couldn’t be saved in your Downloads folder (%1).");
            break;
        case Failure::tooLarge:
            message = QStringLiteral("The download was stopped (%1).");
            break;
        case Failure::none:
        case Failure::network:
            message = server + QStringLiteral(" couldn’t be reached (%1).");
            break;
        }
        message = message.arg(status.detail);
        break;
    }
    }
    headline_->setText(headline);
    message_->setText(message);
    message_->setVisible(!message.isEmpty());
    if (notes)
        notes_->setText(QStringLiteral("<a href=\"%1\">Release Notes</a>")
                            .arg(status.item->releaseNotes.toString(QUrl::FullyEncoded).toHtmlEscaped()));
    notes_->setVisible(notes);
    progress_->setVisible(progress);
    primary_->setText(primary);
    secondary_->setText(secondary);
    secondary_->setVisible(!secondary.isEmpty());
    primary_->setFocus();
    // The wrapped text decides the height at the fixed width, for every state anew.
    layout()->activate();
    resize(width(), heightForWidth(width()));
}

}  // namespace qw

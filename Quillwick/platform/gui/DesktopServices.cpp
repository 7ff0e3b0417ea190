#include "Quillwick/platform/gui/DesktopServices.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLoggingCategory>

namespace qw {
namespace {
Q_LOGGING_CATEGORY(logDesktop, "com.tarnmoor.quillwick.desktop")

const QString fileManagerService = QStringLiteral("org.freedesktop.FileManager1");
}  // namespace

void revealInFileManager(const QString& path, QObject* context, std::function<void()> failed) {
    auto openFolder = [path, failed] {
        const QUrl folder = QUrl::fromLocalFile(QFileInfo(path).absolutePath());
        if (QDesktopServices::openUrl(folder))
            return;
        qCInfo(logDesktop) << "Nothing opened the folder of" << path;
        if (failed)
            failed();
    };
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolder();
        return;
    }
    // Asked even when the name has no owner yet: the bus may start a file manager on demand. An error
    // reply, no such service among them, means nobody showed the file.
    QDBusMessage call = QDBusMessage::createMethodCall(fileManagerService, "/org/freedesktop/FileManager1",
                                                       fileManagerService, "ShowItems");
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 10000), context ? context : qApp);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, openFolder] {
        watcher->deleteLater();
        if (!watcher->isError())
            return;
        qCInfo(logDesktop) << "No file manager showed the file:" << watcher->error().message();
        openFolder();
    });
}

void copyToClipboard(const QString& text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text, QClipboard::Clipboard);
}

QUrl loginItemsSettingsUrl() {
    return QUrl("x-apple.systempreferences:com.apple.LoginItems-Settings.extension");
}

QUrl fullDiskAccessSettingsUrl() {
    return QUrl("x-apple.systempreferences:com.apple.preference.security?Privacy_AllFiles");
}

void openUrl(const QUrl& url) {
    if (!QDesktopServices::openUrl(url))
        qCInfo(logDesktop) << "Nothing handles" << url.toString();
}

}  // namespace qw

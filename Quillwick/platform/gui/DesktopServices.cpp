#include "Quillwick/platform/gui/DesktopServices.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLoggingCategory>

namespace qw {
namespace {
Q_LOGGING_CATEGORY(logDesktop, "com.tarnmoor.quillwick.desktop")

const QString fileManagerService = QStringLiteral("org.freedesktop.FileManager1");
}  // namespace

void revealInFileManager(const QString& path) {
    const QUrl url = QUrl::fromLocalFile(path);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(fileManagerService)) {
        QDBusMessage call = QDBusMessage::createMethodCall(fileManagerService, "/org/freedesktop/FileManager1",
                                                           fileManagerService, "ShowItems");
        call << QStringList{url.toString()} << QString();
        if (bus.send(call))
            return;
    }
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(path).absolutePath());
    if (!QDesktopServices::openUrl(folder))
        qCInfo(logDesktop) << "Nothing opened the folder of" << path;
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

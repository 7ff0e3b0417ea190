#include "Quillwick/platform/gui/DesktopServices.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>

namespace qw {
namespace {
Q_LOGGING_CATEGORY(logDesktop, "com.tarnmoor.quillwick.desktop")

const QString fileManagerService = QStringLiteral("org.freedesktop.FileManager1");
}  // namespace

void openWithDesktop(const QUrl& url, QObject* context, std::function<void()> failed) {
    const QPointer<QObject> guard(context);
    auto fail = [url, guard, hadContext = context != nullptr, failed] {
        qCInfo(logDesktop) << "Nothing opened" << url.toString();
        if (failed && (!hadContext || guard))
            failed();
    };
    const QString opener = QStandardPaths::findExecutable("xdg-open");
    if (opener.isEmpty()) {
        if (!QDesktopServices::openUrl(url))
            fail();
        return;
    }
    // Qt would only learn that the handler started; its exit status says whether anything opened. No
    // parent: quitting must not end a file manager the handler waits on.
    auto* process = new QProcess;
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    QObject::connect(process, &QProcess::finished, process, [process, fail](int code, QProcess::ExitStatus exit) {
        process->deleteLater();
        if (exit != QProcess::NormalExit || code != 0)
            fail();
    });
    QObject::connect(process, &QProcess::errorOccurred, process, [process, fail](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        process->deleteLater();
        fail();
    });
    process->start(opener, {url.toString(QUrl::FullyEncoded)});
}

void revealInFileManager(const QString& path, QObject* context, std::function<void()> failed) {
    auto openFolder = [path, context = QPointer<QObject>(context), hadContext = context != nullptr, failed] {
        if (hadContext && !context)
            return;
        openWithDesktop(QUrl::fromLocalFile(QFileInfo(path).absolutePath()), context, failed);
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

void openUrl(const QUrl& url) { openWithDesktop(url); }

}  // namespace qw

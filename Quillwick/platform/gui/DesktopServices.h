// DesktopServices: the desktop calls the windows make directly — showing a file selected in the file
// manager, putting text on the clipboard, opening a System Settings page.
#pragma once

#include <functional>

#include <QString>
#include <QUrl>

class QObject;

namespace qw {

// The freedesktop file manager's ShowItems over the session bus; where no file manager answers, the
// file's folder opened with the desktop's default handler. When nothing opens it either, `failed` runs
// on the main thread, unless `context` is gone by then.
void revealInFileManager(const QString& path, QObject* context = nullptr, std::function<void()> failed = {});
// Opens a URL with the desktop's default handler (xdg-open where there is one), judged by how the
// handler exits; on failure a log line says so and `failed` runs as above.
void openWithDesktop(const QUrl& url, QObject* context = nullptr, std::function<void()> failed = {});
// Clears the clipboard and puts the text on it as plain text.
void copyToClipboard(const QString& text);

// The System Settings pages the windows link to.
QUrl loginItemsSettingsUrl();
QUrl fullDiskAccessSettingsUrl();
// Opens a URL; where nothing handles it, nothing happens and a log line says so.
void openUrl(const QUrl& url);

}  // namespace qw

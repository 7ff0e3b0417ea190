#include "Quillwick/ui/Symbols.h"

#include <QDir>
#include <QGuiApplication>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>
#include <QStandardPaths>
#include <QStringList>

namespace qw {
namespace {

const QHash<QString, QString>& table() {
    static const QHash<QString, QString> names{
        {"app.badge", "application-x-executable"},
        {"arrow.clockwise", "view-refresh"},
        {"arrow.triangle.2.circlepath", "media-playlist-repeat"},
        {"bolt.horizontal", "flash"},
        {"calendar", "view-calendar"},
        {"calendar.badge.clock", "view-calendar-time-spent"},
        {"checkmark.circle", "dialog-ok"},
        {"checkmark.circle.fill", "emblem-success"},
        {"clock.badge.questionmark", "chronometer"},
        {"clock.fill", "clock"},
        {"curlybraces", "code-context"},
        {"doc", "text-x-generic"},
        {"doc.questionmark", "unknown"},
        {"ellipsis.circle", "overflow-menu"},
        {"exclamationmark.triangle", "dialog-warning"},
        {"exclamationmark.triangle.fill", "emblem-warning"},
        {"folder", "folder"},
        {"folder.badge.gearshape", "folder-sync"},
        {"gearshape", "configure"},
        {"gearshape.2", "preferences-system"},
        {"info.circle", "help-about"},
        {"info.circle.fill", "dialog-information"},
        {"list.bullet.rectangle", "view-list-details"},
        {"lock", "object-locked"},
        {"lock.fill", "lock"},
        {"lock.rotation", "object-locked"},
        {"lock.shield", "security-high"},
        {"pause.circle", "media-playback-pause"},
        {"person", "user"},
        {"person.crop.circle.badge.checkmark", "user-identity"},
        {"play.circle", "media-playback-start"},
        {"play.fill", "media-playback-start"},
        {"plus", "list-add"},
        {"plus.circle", "list-add"},
        {"power", "system-shutdown"},
        {"questionmark.circle", "help-contextual"},
        {"shippingbox", "package"},
        {"slider.horizontal.3", "settings-configure"},
        {"square.and.pencil", "document-edit"},
        {"square.grid.2x2", "view-grid"},
        {"stethoscope", "tools-report-bug"},
        {"text.alignleft", "format-justify-left"},
        {"timer", "chronometer"},
        {"tray", "mail-folder-inbox"},
        {"xmark.circle", "dialog-cancel"},
        {"xmark.octagon.fill", "dialog-error"},
        // Drawn: the theme's versions carry colours and shapes of their own.
        {"circle", ""},
        {"circle.fill", ""},
        {"circle.dotted", ""},
        {"circle.dashed", ""},
        {"minus.circle", ""},
        {"exclamationmark.circle.fill", ""},
    };
    return names;
}

void ensureTheme() {
    static const bool once = [] {
        // Platforms without a desktop theme (offscreen, a bare X server) look only in the resources.
        QStringList paths = QIcon::themeSearchPaths();
        for (const QString& data : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
            const QString icons = QDir(data).filePath(QStringLiteral("icons"));
            if (!paths.contains(icons) && QDir(icons).exists()) paths << icons;
        }
        QIcon::setThemeSearchPaths(paths);
        if (QIcon::themeName().isEmpty() || QIcon::themeName() == "hicolor")
            QIcon::setThemeName("breeze");
        return true;
    }();
    (void)once;
}

QColor defaultInk() {
    return QGuiApplication::palette().color(QPalette::WindowText);
}

// Shapes drawn in a square of side s; unknown names get a circle with the name's first letter.
void drawShape(QPainter& p, const QString& name, int s, const QColor& ink) {
    p.setRenderHint(QPainter::Antialiasing);
    const qreal w = std::max(1.0, s / 10.0);
    const QRectF r(w, w, s - 2 * w, s - 2 * w);
    QPen pen(ink, w);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    if (name == "circle.fill") {
        p.setBrush(ink);
        p.drawEllipse(r);
    } else if (name == "circle.dotted" || name == "circle.dashed") {
        pen.setStyle(name == "circle.dotted" ? Qt::DotLine : Qt::DashLine);
        pen.setCapStyle(Qt::RoundCap);
        p.setPen(pen);
        p.drawEllipse(r);
    } else if (name == "minus.circle") {
        p.drawEllipse(r);
        p.drawLine(QPointF(s * 0.3, s / 2.0), QPointF(s * 0.7, s / 2.0));
    } else if (name == "exclamationmark.circle.fill") {
        p.setBrush(ink);
        p.drawEllipse(r);
        QPen mark(QColor(Qt::white), std::max(1.5, s / 8.0), Qt::SolidLine, Qt::RoundCap);
        p.setPen(mark);
        p.drawLine(QPointF(s / 2.0, s * 0.27), QPointF(s / 2.0, s * 0.56));
        p.drawPoint(QPointF(s / 2.0, s * 0.73));
    } else if (name == "circle") {
        p.drawEllipse(r);
    } else {
        p.drawEllipse(r);
        QFont f;
        f.setPixelSize(std::max(6, s / 2));
        f.setBold(true);
        p.setFont(f);
        p.drawText(r, Qt::AlignCenter, name.left(1).toUpper());
    }
}

QIcon drawnIcon(const QString& name, const QColor& ink) {
    QIcon icon;
    for (int s : {16, 22, 32, 48, 64, 96}) {
        QPixmap pm(s, s);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        drawShape(p, name, s, ink);
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

QIcon tinted(const QIcon& source, const QColor& tint) {
    QIcon icon;
    for (int s : {16, 22, 32, 48, 64, 96}) {
        QPixmap pm = source.pixmap(s, s);
        if (pm.isNull())
            continue;
        QPainter p(&pm);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(pm.rect(), tint);
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

}  // namespace

QString themeIconName(const QString& sfSymbolName) {
    return table().value(sfSymbolName);
}

QIcon symbolIcon(const QString& sfSymbolName) {
    ensureTheme();
    const QString themeName = themeIconName(sfSymbolName);
    if (!themeName.isEmpty()) {
        QIcon icon = QIcon::fromTheme(themeName);
        if (!icon.isNull() && !icon.availableSizes().isEmpty())
            return icon;
        if (!icon.isNull() && !icon.pixmap(16, 16).isNull())
            return icon;
    }
    return drawnIcon(sfSymbolName, defaultInk());
}

QIcon symbolIcon(const QString& sfSymbolName, const QColor& tint) {
    ensureTheme();
    const QString themeName = themeIconName(sfSymbolName);
    if (themeName.isEmpty())
        return drawnIcon(sfSymbolName, tint);
    // Emblems and the status dialogs' symbols are filled, coloured badges: painted in one colour they
    // become solid shapes without their mark.
    static const QStringList badges = {"dialog-error", "dialog-information", "dialog-warning"};
    if (themeName.startsWith(QLatin1String("emblem-")) || badges.contains(themeName))
        return symbolIcon(sfSymbolName);
    return tinted(symbolIcon(sfSymbolName), tint);
}

}  // namespace qw

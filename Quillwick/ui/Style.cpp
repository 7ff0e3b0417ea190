#include "Quillwick/ui/Style.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QPalette>

namespace qw {

QFont monospaceFont() {
    return QFontDatabase::systemFont(QFontDatabase::FixedFont);
}

QFont captionFont() {
    QFont f = QGuiApplication::font();
    if (f.pointSizeF() > 0)
        f.setPointSizeF(f.pointSizeF() * 0.85);
    return f;
}

QFont headlineFont() {
    QFont f = QGuiApplication::font();
    f.setBold(true);
    return f;
}

QColor greenColor() { return QColor(0x34, 0xc7, 0x59); }
QColor orangeColor() { return QColor(0xff, 0x95, 0x00); }
QColor redColor() { return QColor(0xff, 0x3b, 0x30); }

QColor secondaryColor() {
    QColor c = QGuiApplication::palette().color(QPalette::WindowText);
    c.setAlphaF(0.55);
    return c;
}

QColor severityColor(Issue::Severity severity) {
    switch (severity) {
    case Issue::Severity::error: return redColor();
    case Issue::Severity::warning: return orangeColor();
    case Issue::Severity::note: break;
    }
    return secondaryColor();
}

QString severitySymbolName(Issue::Severity severity) {
    switch (severity) {
    case Issue::Severity::error: return QStringLiteral("xmark.octagon.fill");
    case Issue::Severity::warning: return QStringLiteral("exclamationmark.triangle.fill");
    case Issue::Severity::note: break;
    }
    return QStringLiteral("info.circle.fill");
}

QString severityName(Issue::Severity severity) {
    switch (severity) {
    case Issue::Severity::error: return QStringLiteral("Error");
    case Issue::Severity::warning: return QStringLiteral("Warning");
    case Issue::Severity::note: break;
    }
    return QStringLiteral("Note");
}

QColor healthColor(Job::Health health) {
    switch (health) {
    case Job::Health::running: return greenColor();
    case Job::Health::failed: return redColor();
    case Job::Health::disabled: return orangeColor();
    case Job::Health::loadedIdle:
    case Job::Health::notLoaded: break;
    }
    return secondaryColor();
}

}  // namespace qw

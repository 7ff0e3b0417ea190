// Symbols: the one table from the symbol names the windows use to icons of the desktop's theme.
#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

namespace qw {

// The icon for a symbol name. Shapes the theme has no counterpart for (the plain, dotted and
// dashed circles of the health states) and names missing from the table or the theme are drawn,
// so no icon is ever blank.
QIcon symbolIcon(const QString& sfSymbolName);
// The same icon painted in one colour, for the places that give a symbol a tint.
QIcon symbolIcon(const QString& sfSymbolName, const QColor& tint);

// The theme icon name the table gives a symbol, or "" when the symbol is always drawn or unknown.
QString themeIconName(const QString& sfSymbolName);

}  // namespace qw

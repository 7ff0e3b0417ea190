// Markup: the light inline markup of the hints and messages ("**bold**" and `code` spans) as HTML
// for a rich-text label, with every other character escaped.
#pragma once

#include <QString>

namespace qw {

// Line breaks and runs of blanks stay as written. Text whose markers do not pair up is shown
// unstyled, character for character, markers included.
QString markupToHtml(const QString& lightMarkup);

// The text with the "**" and backtick markers removed, for tooltips and accessible names.
QString stripMarkup(const QString& lightMarkup);

// For a button, menu item, check box, group box or tab title: every "&" doubled, so the widget shows it
// as written instead of taking it as a keyboard mnemonic.
QString escapeMnemonics(const QString& text);

}  // namespace qw

#include "Quillwick/ui/Markup.h"

#include <optional>

namespace qw {
namespace {

QString escapeRun(const QString& text) {
    QString out = text.toHtmlEscaped();
    out.replace('\n', "<br/>");
    return out;
}

// The styled body, or nothing when a span is left open.
std::optional<QString> styled(const QString& text) {
    QString out;
    QString run;
    bool bold = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '`') {
            const qsizetype end = text.indexOf('`', i + 1);
            if (end < 0)
                return std::nullopt;
            out += escapeRun(run);
            run.clear();
            out += "<code>" + escapeRun(text.mid(i + 1, end - i - 1)) + "</code>";
            i = end;
        } else if (text[i] == '*' && i + 1 < text.size() && text[i + 1] == '*') {
            out += escapeRun(run);
            run.clear();
            out += bold ? "</b>" : "<b>";
            bold = !bold;
            ++i;
        } else {
            run += text[i];
        }
    }
    if (bold)
        return std::nullopt;
    out += escapeRun(run);
    return out;
}

}  // namespace

QString markupToHtml(const QString& lightMarkup) {
    const QString body = styled(lightMarkup).value_or(escapeRun(lightMarkup));
    return "<span style=\"white-space: pre-wrap;\">" + body + "</span>";
}

QString stripMarkup(const QString& lightMarkup) {
    QString out = lightMarkup;
    out.remove(QStringLiteral("**"));
    out.remove('`');
    return out;
}

QString escapeMnemonics(const QString& text) {
    return QString(text).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

}  // namespace qw

// Style: the fonts and the few fixed colours the windows share (health, severity, tints).
#pragma once

#include <QColor>
#include <QFont>
#include <QString>

#include "Quillwick/launchd/Issue.h"
#include "Quillwick/launchd/Job.h"

namespace qw {

QFont monospaceFont();
// The caption and headline sizes of the windows, relative to the application font.
QFont captionFont();
QFont headlineFont();

QColor severityColor(Issue::Severity severity);
// The symbol a problem of this severity shows, and the word a screen reader says for it.
QString severitySymbolName(Issue::Severity severity);
QString severityName(Issue::Severity severity);
QColor healthColor(Job::Health health);

// The fixed tints: green, orange and red as the platform draws them, and the secondary text colour.
QColor greenColor();
QColor orangeColor();
QColor redColor();
QColor secondaryColor();

}  // namespace qw

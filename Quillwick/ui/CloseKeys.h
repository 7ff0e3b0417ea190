// The keys that close a window of its own, as the platform's settings and utility windows do: Escape
// and Close Window (Ctrl+W).
#pragma once

class QWidget;

namespace qw {

// Escape and Close Window close the window that `widget` is in, while that window is active.
void closeWithEscapeAndCloseWindow(QWidget* widget);

}  // namespace qw

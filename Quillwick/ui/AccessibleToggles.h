// AccessibleToggles: a checkable button's "Toggle" action, as assistive technology performs it, acts as a
// click. Qt's own action only flips the check mark, so whatever listens for clicks (a segment choosing a
// KeepAlive form, a box loading a job) never heard it, and the button showed a choice that was not made.
#pragma once

namespace qw {

// Once, after the QApplication is made.
void installAccessibleToggles();

}  // namespace qw

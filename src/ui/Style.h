#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

// The few text styles and colours the views share, derived from the application's palette
// and font so they follow light and dark themes.
namespace Style {

// Secondary label text, and switched-off items: the window text faded towards the
// background, still 4.5:1 against it.
QColor secondaryText(const QPalette& palette);
// Divider lines: a faint version of the window text.
QColor separator(const QPalette& palette);
// Text or a glyph drawn on a fill of `fill` (an accent): white, or near-black where white
// would read worse (on gold, orange, green).
QColor textOn(const QColor& fill);
// The WCAG contrast ratio of two opaque colours, 1 to 21.
double contrast(const QColor& a, const QColor& b);

QFont headline(const QFont& base); // bold body
QFont callout(const QFont& base);  // one step below body
QFont caption(const QFont& base);  // two steps below body

} // namespace Style

#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

// The few text styles and colours the views share, derived from the application's palette
// and font so they follow light and dark themes.
namespace Style {

// Secondary label text: the window text faded towards the background.
QColor secondaryText(const QPalette& palette);
// Divider lines: a faint version of the window text.
QColor separator(const QPalette& palette);
// A neutral grey for switched-off items, readable on light and dark backgrounds.
QColor grey();
// The WCAG contrast ratio of two opaque colours, 1 to 21.
double contrast(const QColor& a, const QColor& b);

QFont headline(const QFont& base); // bold body
QFont callout(const QFont& base);  // one step below body
QFont caption(const QFont& base);  // two steps below body

} // namespace Style

#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QLabel;
class QPalette;
class QStyle;
class QWidget;

// Text styles and colours of the settings window. Sizes follow the desktop's font: the
// body text is the application font and the other styles scale from it.
namespace SettingsStyle {

// Between the cards of a pane.
inline constexpr int kPaneSpacing = 14;

QFont bodyFont();
QFont headlineFont();   // body size, semibold
QFont captionFont();    // smaller than body
QFont calloutFont();    // slightly smaller than body
QFont largeTitleFont(); // twice the body, bold
QFont title2Font();     // about 1.3 times the body, bold

// Text that is less prominent than the primary label colour.
QColor secondaryTextColor(const QWidget* widget);
QColor primaryTextColor(const QWidget* widget);
// Fill of cards and the sidebar.
QColor controlBackgroundColor(const QWidget* widget);
// A card: the window raised a little towards the text, so it differs from the base colour
// the style fills controls with.
QColor cardColor(const QPalette& palette);
// Borders of controls on a card: halfway from the card to the text, readable on both.
QColor controlBorderColor(const QPalette& palette);
// The application's style with control borders drawn against the card and checked boxes
// in the accent; the settings window sets it on its controls.
QStyle* controlStyle();
// Behind the preset rows.
QColor windowBackgroundColor(const QWidget* widget);

// A label in the given font, optionally in the secondary colour.
QLabel* makeLabel(const QString& text, const QFont& font, bool secondary = false,
                  QWidget* parent = nullptr);

} // namespace SettingsStyle

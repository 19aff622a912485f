#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

// Symbol images by their symbol name ("checkmark.circle", "hand.raised" ...): each name
// maps to a freedesktop icon-theme name, with a bundled SVG drawn when the theme lacks it,
// so every symbol always draws. Symbols are monochrome and take the colour given.
namespace Symbols {

QPixmap pixmap(const QString& name, int size, const QColor& color, qreal devicePixelRatio = 1.0);
QIcon icon(const QString& name, const QColor& color);

} // namespace Symbols

#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPixmap>

// The application's own artwork: the picture named "Image" and the tray glyph named
// "MenuBarIcon", both bundled as SVG.
namespace Artwork {

// "Image" as a square of `size` logical pixels.
QPixmap image(int size, qreal devicePixelRatio = 1.0);
// "Image" at the usual icon sizes, for window icons.
QIcon applicationIcon();

// "MenuBarIcon" squeezed into an edge-by-edge square whatever its natural aspect. As a
// template it is a silhouette in `templateColor`; otherwise it keeps its own colours.
QImage menuBarIcon(int edge, bool asTemplate, const QColor& templateColor,
                   qreal devicePixelRatio = 1.0);

// The menu bar icon edge in use: "menuBarIconSize" clamped to its range.
int clampedMenuBarIconSize(qint64 stored);

} // namespace Artwork

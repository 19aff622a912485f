#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPixmap>

// The application's own artwork: the picture named "Image" and the tray glyph named
// "TrayIcon", both bundled as SVG.
namespace Artwork {

// "Image" as a square of `size` logical pixels.
QPixmap image(int size, qreal devicePixelRatio = 1.0);
// "Image" at the usual icon sizes, for window icons.
QIcon applicationIcon();

// "TrayIcon" squeezed into an edge-by-edge square whatever its natural aspect. Monochrome
// it is a silhouette in `glyphColor`; otherwise it keeps its own colours.
QImage trayIcon(int edge, bool monochrome, const QColor& glyphColor, qreal devicePixelRatio = 1.0);

// The tray icon edge in use: "menuBarIconSize" clamped to its range.
int clampedTrayIconSize(qint64 stored);

} // namespace Artwork

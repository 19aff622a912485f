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

// How the tray glyph is drawn.
struct TrayStyle {
    // A silhouette in `glyph`, or the artwork's own colours.
    bool monochrome = true;
    QColor glyph = Qt::black;
    // A rim of this colour around the shape, so it reads on a panel of either tone; none
    // when invalid.
    QColor outline;
    // "TrayIconPaused": pause bars in place of the hands.
    bool paused = false;
};

// "TrayIcon" squeezed into an edge-by-edge square whatever its natural aspect.
QImage trayIcon(int edge, const TrayStyle& style, qreal devicePixelRatio = 1.0);

// The tray icon edge in use: "menuBarIconSize" clamped to its range.
int clampedTrayIconSize(qint64 stored);

} // namespace Artwork

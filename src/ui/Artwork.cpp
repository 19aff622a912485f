#include "Artwork.h"

#include "Resources.h"

#include <QPainter>
#include <QSvgRenderer>

#include <algorithm>

namespace Artwork {

namespace {
QImage renderSvg(const QString& path, int pixels) {
    Resources::ensureLoaded();
    QImage out(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    QSvgRenderer svg(path);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    // Fills the square exactly: a non-square drawing is stretched, not letterboxed.
    svg.render(&p, QRectF(0, 0, pixels, pixels));
    return out;
}
} // namespace

QPixmap image(int size, qreal devicePixelRatio) {
    const qreal dpr = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    QPixmap pm = QPixmap::fromImage(
        renderSvg(QStringLiteral(":/artwork/Image.svg"), qMax(1, qRound(size * dpr))));
    pm.setDevicePixelRatio(dpr);
    return pm;
}

QIcon applicationIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(image(size));
    return icon;
}

QImage menuBarIcon(int edge, bool asTemplate, const QColor& templateColor, qreal devicePixelRatio) {
    const qreal dpr = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    QImage out =
        renderSvg(QStringLiteral(":/artwork/MenuBarIcon.svg"), qMax(1, qRound(edge * dpr)));
    if (asTemplate) {
        QPainter p(&out);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(out.rect(), templateColor);
    }
    out.setDevicePixelRatio(dpr);
    return out;
}

int clampedMenuBarIconSize(qint64 stored) {
    return static_cast<int>(std::clamp<qint64>(stored, 14, 24));
}

} // namespace Artwork

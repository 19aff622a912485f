#include "Artwork.h"

#include "Resources.h"

#include "preferences/PreferenceKeys.h"

#include <QIconEngine>
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
// The drawing's shape in one flat colour.
QImage tinted(const QImage& shape, const QColor& color) {
    QImage out = shape;
    QPainter p(&out);
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(out.rect(), color);
    return out;
}
// The shape grown by `radius` pixels, in one colour.
QImage grown(const QImage& shape, const QColor& color, int radius) {
    const QImage src = shape.convertToFormat(QImage::Format_ARGB32);
    QImage out(src.size(), QImage::Format_ARGB32);
    for (int y = 0; y < src.height(); ++y) {
        for (int x = 0; x < src.width(); ++x) {
            int alpha = 0;
            for (int dy = -radius; dy <= radius; ++dy)
                for (int dx = -radius; dx <= radius; ++dx)
                    if (src.valid(x + dx, y + dy))
                        alpha = qMax(alpha, qAlpha(src.pixel(x + dx, y + dy)));
            QColor c = color;
            c.setAlpha(alpha * color.alpha() / 255);
            out.setPixelColor(x, y, c);
        }
    }
    return out.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}
} // namespace

QPixmap image(int size, qreal devicePixelRatio) {
    const qreal dpr = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    QPixmap pm = QPixmap::fromImage(
        renderSvg(QStringLiteral(":/artwork/Image.svg"), qMax(1, qRound(size * dpr))));
    pm.setDevicePixelRatio(dpr);
    return pm;
}

namespace {
// "Image" drawn at the size asked for, when asked: a window icon set at start-up would
// otherwise keep seven sizes of it in memory for windows that may never open.
class ImageIconEngine final : public QIconEngine {
public:
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
        painter->drawPixmap(rect, image(std::min(rect.width(), rect.height())));
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode, QIcon::State) override {
        return image(std::min(size.width(), size.height()));
    }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        return {{16, 16}, {32, 32}, {48, 48}, {64, 64}};
    }
    QIconEngine* clone() const override { return new ImageIconEngine; }
    QString key() const override { return QStringLiteral("IdlewatchImage"); }
};
} // namespace

QIcon applicationIcon() {
    return QIcon(new ImageIconEngine);
}

QImage trayIcon(int edge, const TrayStyle& style, qreal devicePixelRatio) {
    const qreal dpr = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    QImage out = renderSvg(style.paused ? QStringLiteral(":/artwork/TrayIconPaused.svg")
                                        : QStringLiteral(":/artwork/TrayIcon.svg"),
                           qMax(1, qRound(edge * dpr)));
    if (style.monochrome)
        out = tinted(out, style.glyph);
    if (style.outline.isValid()) {
        QImage framed = grown(out, style.outline, qMax(1, qRound(dpr)));
        QPainter p(&framed);
        p.drawImage(0, 0, out);
        p.end();
        out = framed;
    }
    out.setDevicePixelRatio(dpr);
    return out;
}

int clampedTrayIconSize(qint64 stored) {
    return static_cast<int>(Keys::menuBarIconSize.range().clamp(stored));
}

} // namespace Artwork

#include "AppIcon.h"

#include <QDir>
#include <QFileInfo>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

// A generic application window drawn at any size, so that an icon exists even on a
// system without an icon theme.
class GenericApplicationIconEngine final : public QIconEngine {
public:
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        const qreal s = std::min(rect.width(), rect.height());
        const QRectF frame(rect.x() + (rect.width() - s) / 2 + s * 0.08,
                           rect.y() + (rect.height() - s) / 2 + s * 0.14, s * 0.84, s * 0.72);
        const qreal radius = s * 0.08;
        const bool disabled = mode == QIcon::Disabled;
        const QColor body = disabled ? QColor(0xc8, 0xc8, 0xc8) : QColor(0xf4, 0xf5, 0xf7);
        const QColor bar = disabled ? QColor(0x9a, 0x9a, 0x9a) : QColor(0x4a, 0x7e, 0xc2);
        const QColor outline = disabled ? QColor(0x80, 0x80, 0x80) : QColor(0x3b, 0x4a, 0x5c);

        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        QPainterPath window;
        window.addRoundedRect(frame, radius, radius);
        painter->fillPath(window, body);
        // Title bar.
        painter->save();
        painter->setClipPath(window);
        painter->fillRect(QRectF(frame.topLeft(), QSizeF(frame.width(), frame.height() * 0.24)),
                          bar);
        painter->restore();
        painter->setPen(QPen(outline, std::max<qreal>(1.0, s / 32)));
        painter->drawPath(window);
        // Content lines.
        painter->setPen(
            QPen(outline.lighter(160), std::max<qreal>(1.0, s / 20), Qt::SolidLine, Qt::RoundCap));
        for (int i = 0; i < 3; ++i) {
            const qreal y = frame.top() + frame.height() * (0.45 + 0.17 * i);
            const qreal right = frame.right() - frame.width() * (i == 2 ? 0.45 : 0.15);
            painter->drawLine(QPointF(frame.left() + frame.width() * 0.15, y), QPointF(right, y));
        }
        painter->restore();
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap pm(size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        paint(&p, QRect(QPoint(0, 0), size), mode, state);
        return pm;
    }

    QIconEngine* clone() const override { return new GenericApplicationIconEngine; }
    QString key() const override { return QStringLiteral("IdlewatchGenericApplication"); }
    bool isNull() override { return false; }
};

QIcon genericApplicationIcon() {
    static const QIcon fallback(new GenericApplicationIconEngine);
    return QIcon::fromTheme(QStringLiteral("application-x-executable"), fallback);
}

QIcon iconNamed(const QString& icon) {
    if (QDir::isAbsolutePath(icon)) {
        if (!QFileInfo(icon).isFile())
            return {};
        QIcon fromFile(icon);
        return fromFile.availableSizes().isEmpty() && fromFile.pixmap(32).isNull() ? QIcon()
                                                                                   : fromFile;
    }
    QIcon themed = QIcon::fromTheme(icon);
    // Names are meant without extension, but "foo.png" is common in the wild.
    if (themed.isNull()) {
        for (const char* ext : {".png", ".svg", ".xpm"}) {
            if (icon.endsWith(QLatin1String(ext))) {
                themed = QIcon::fromTheme(icon.chopped(4));
                break;
            }
        }
    }
    return themed;
}

} // namespace

QIcon iconForApplication(const QString& iconName) {
    if (!iconName.isEmpty()) {
        if (QIcon found = iconNamed(iconName); !found.isNull())
            return found;
    }
    return genericApplicationIcon();
}

#include "AppIcon.h"

#include <QDir>
#include <QFileInfo>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStandardPaths>

#include <algorithm>
#include <iterator>

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

// Looked up once: every entry without an icon of its own shares it, and a theme lookup per
// entry made a long list slow to open.
QIcon genericApplicationIcon() {
    static const QIcon icon = QIcon::fromTheme(QStringLiteral("application-x-executable"),
                                               QIcon(new GenericApplicationIconEngine));
    return icon;
}

QIcon fromFile(const QString& path) {
    if (!QFileInfo(path).isFile())
        return {};
    QIcon icon(path);
    return icon.availableSizes().isEmpty() && icon.pixmap(32).isNull() ? QIcon() : icon;
}

// Every theme lookup ends in hicolor, but Qt stops early when the desktop's theme (say
// breeze, named by a KDE session) is not installed.
QIcon fromHicolor(const QString& name) {
    const QString file = QStringLiteral("/apps/") + name;
    for (const QString& root : QIcon::themeSearchPaths()) {
        const QString theme = root + QStringLiteral("/hicolor/");
        if (QIcon found =
                fromFile(theme + QStringLiteral("scalable") + file + QStringLiteral(".svg"));
            !found.isNull())
            return found;
        for (int size : {256, 128, 64, 48, 32, 24, 16}) {
            const QString folder = theme + QString::number(size) + u'x' + QString::number(size);
            if (QIcon found = fromFile(folder + file + QStringLiteral(".png")); !found.isNull())
                return found;
        }
    }
    return {};
}

// In the order the icon theme specification reads an Icon= value: an absolute path, a file
// in a pixmaps folder (/usr/share/pixmaps), then a theme name.
QIcon iconNamed(const QString& icon) {
    if (QDir::isAbsolutePath(icon))
        return fromFile(icon);
    static const char* const kExtensions[] = {".png", ".svg", ".xpm"};
    const bool hasExtension = std::any_of(std::begin(kExtensions), std::end(kExtensions),
                                          [&icon](const char* ext) { return icon.endsWith(ext); });
    for (const QString& folder :
         QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("pixmaps"),
                                   QStandardPaths::LocateDirectory)) {
        if (hasExtension) {
            if (QIcon found = fromFile(folder + u'/' + icon); !found.isNull())
                return found;
            continue;
        }
        for (const char* ext : kExtensions)
            if (QIcon found = fromFile(folder + u'/' + icon + QLatin1String(ext)); !found.isNull())
                return found;
    }
    // Names are meant without extension, but "foo.png" is common in the wild.
    const QString name = hasExtension ? icon.chopped(4) : icon;
    if (QIcon themed = QIcon::fromTheme(name); !themed.isNull())
        return themed;
    return fromHicolor(name);
}

} // namespace

QIcon iconForApplication(const QString& iconName) {
    if (!iconName.isEmpty()) {
        if (QIcon found = iconNamed(iconName); !found.isNull())
            return found;
    }
    return genericApplicationIcon();
}

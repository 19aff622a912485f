#include "Symbols.h"

#include "Resources.h"

#include <QFile>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPixmapCache>
#include <QSvgRenderer>

namespace Symbols {

namespace {

// Symbolic theme icons are drawn in one colour, so tinting them keeps their shape;
// full-colour theme icons would turn into blobs and are never asked for. Only names whose
// theme icon means the same thing are listed; the others, and every glyph whose circle is
// part of its look, always draw the bundled symbol.
const QHash<QString, QString>& themeNames() {
    static const QHash<QString, QString> table{
        {QStringLiteral("plus"), QStringLiteral("list-add-symbolic")},
        {QStringLiteral("minus"), QStringLiteral("list-remove-symbolic")},
        {QStringLiteral("battery.75"), QStringLiteral("battery-good-symbolic")},
        {QStringLiteral("clock"), QStringLiteral("preferences-system-time-symbolic")},
        {QStringLiteral("power"), QStringLiteral("system-shutdown-symbolic")},
        {QStringLiteral("link"), QStringLiteral("insert-link-symbolic")},
        {QStringLiteral("info.circle"), QStringLiteral("dialog-information-symbolic")},
        {QStringLiteral("doc.on.clipboard"), QStringLiteral("edit-copy-symbolic")},
        {QStringLiteral("rectangle.and.text.magnifyingglass"),
         QStringLiteral("edit-find-symbolic")},
        {QStringLiteral("sidebar.leading"), QStringLiteral("sidebar-show-symbolic")},
    };
    return table;
}

QString bundledPath(const QString& name) {
    return QStringLiteral(":/symbols/%1.svg").arg(name);
}

// The icon-theme name looked up first (a "-symbolic" name, drawn in one colour); empty for a
// name without a mapping.
QString themeName(const QString& name) {
    return themeNames().value(name);
}

// True when a bundled drawing exists for the name.
bool isKnown(const QString& name) {
    Resources::ensureLoaded();
    return !name.isEmpty() && QFile::exists(bundledPath(name));
}

// Replaces the colour of every drawn pixel, keeping its coverage.
void tint(QImage& image, const QColor& color) {
    QPainter p(&image);
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(image.rect(), color);
}

QImage render(const QString& name, int pixels) {
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const QString theme = themeName(name);
    if (!theme.isEmpty() && QIcon::hasThemeIcon(theme)) {
        const QPixmap themed = QIcon::fromTheme(theme).pixmap(QSize(pixels, pixels));
        if (!themed.isNull()) {
            QPainter p(&image);
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.drawPixmap(image.rect(), themed);
            return image;
        }
    }
    Resources::ensureLoaded();
    QSvgRenderer svg;
    if (!isKnown(name) || !svg.load(bundledPath(name))) {
        // An unmapped name still draws something visible rather than nothing.
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(Qt::black, qMax(1.0, pixels / 12.0)));
        const qreal m = pixels * 0.15;
        p.drawRoundedRect(QRectF(m, m, pixels - 2 * m, pixels - 2 * m), m, m);
        return image;
    }
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    svg.render(&p, QRectF(0, 0, pixels, pixels));
    return image;
}

// Draws the symbol afresh at whatever size and scale the widget asks for, so icons stay
// sharp on high-density screens and in every state.
class SymbolEngine : public QIconEngine {
public:
    SymbolEngine(QString name, QColor color)
        : m_name(std::move(name))
        , m_color(color) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        const int edge = qMin(rect.width(), rect.height());
        const QPixmap pm = Symbols::pixmap(m_name, edge, colorFor(mode), dpr);
        const QRect target(rect.x() + (rect.width() - edge) / 2,
                           rect.y() + (rect.height() - edge) / 2, edge, edge);
        painter->drawPixmap(target, pm);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override {
        return Symbols::pixmap(m_name, qMin(size.width(), size.height()), colorFor(mode));
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State, qreal scale) override {
        return Symbols::pixmap(m_name, qMin(size.width(), size.height()), colorFor(mode), scale);
    }
    QIconEngine* clone() const override { return new SymbolEngine(m_name, m_color); }
    QString key() const override { return QStringLiteral("IdlewatchSymbol"); }

private:
    // Disabled buttons show a faded glyph, as every toolkit does.
    QColor colorFor(QIcon::Mode mode) const {
        if (mode != QIcon::Disabled)
            return m_color;
        QColor faded = m_color;
        faded.setAlphaF(m_color.alphaF() * 0.35f);
        return faded;
    }

    QString m_name;
    QColor m_color;
};

} // namespace

QPixmap pixmap(const QString& name, int size, const QColor& color, qreal devicePixelRatio) {
    if (size <= 0)
        return {};
    const qreal dpr = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    const int pixels = qMax(1, qRound(size * dpr));
    const QString cacheKey = QStringLiteral("idlewatch-symbol:%1:%2:%3")
                                 .arg(name)
                                 .arg(pixels)
                                 .arg(color.rgba(), 8, 16, QLatin1Char('0'));
    QPixmap cached;
    if (QPixmapCache::find(cacheKey, &cached)) {
        cached.setDevicePixelRatio(dpr);
        return cached;
    }
    QImage image = render(name, pixels);
    tint(image, color);
    QPixmap out = QPixmap::fromImage(std::move(image));
    QPixmapCache::insert(cacheKey, out);
    out.setDevicePixelRatio(dpr);
    return out;
}

QIcon icon(const QString& name, const QColor& color) {
    return QIcon(new SymbolEngine(name, color));
}

} // namespace Symbols

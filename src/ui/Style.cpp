#include "Style.h"

#include <algorithm>
#include <cmath>

namespace Style {

namespace {
QColor blend(const QColor& a, const QColor& b, qreal t) {
    return QColor::fromRgbF(a.redF() * (1 - t) + b.redF() * t,
                            a.greenF() * (1 - t) + b.greenF() * t,
                            a.blueF() * (1 - t) + b.blueF() * t);
}

QFont smaller(const QFont& base, qreal points) {
    QFont f = base;
    if (f.pointSizeF() > 0)
        f.setPointSizeF(qMax(6.0, f.pointSizeF() - points));
    else if (f.pixelSize() > 0)
        f.setPixelSize(qMax(8, f.pixelSize() - qRound(points * 4 / 3)));
    return f;
}
} // namespace

QColor secondaryText(const QPalette& palette) {
    return blend(palette.color(QPalette::WindowText), palette.color(QPalette::Window), 0.45);
}

QColor separator(const QPalette& palette) {
    return blend(palette.color(QPalette::WindowText), palette.color(QPalette::Window), 0.82);
}

QColor textOn(const QColor& fill) {
    const QColor dark(0x1d, 0x1d, 0x1f);
    return contrast(Qt::white, fill) >= contrast(dark, fill) ? QColor(Qt::white) : dark;
}

double contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto linear = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double la = luminance(a) + 0.05, lb = luminance(b) + 0.05;
    return std::max(la, lb) / std::min(la, lb);
}

QFont headline(const QFont& base) {
    QFont f = base;
    f.setBold(true);
    return f;
}

QFont callout(const QFont& base) {
    return smaller(base, 1);
}

QFont caption(const QFont& base) {
    return smaller(base, 2);
}

} // namespace Style

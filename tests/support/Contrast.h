#pragma once

#include <QColor>
#include <QImage>

#include <algorithm>
#include <cmath>

// WCAG contrast ratio of two opaque colours, 1 to 21.
inline double contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double la = luminance(a) + 0.05, lb = luminance(b) + 0.05;
    return std::max(la, lb) / std::min(la, lb);
}

// The strongest contrast any pixel of `area` of `shot` has against `ground`.
inline double strongest(const QImage& shot, const QRect& area, const QColor& ground) {
    double best = 1;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            best = std::max(best, contrast(shot.pixelColor(x, y), ground));
    return best;
}

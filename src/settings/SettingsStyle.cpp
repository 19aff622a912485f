#include "SettingsStyle.h"

#include <QApplication>
#include <QLabel>
#include <QPalette>

namespace SettingsStyle {

namespace {
// The reference sizes of the text styles, relative to a 13 point body.
QFont scaled(qreal points, QFont::Weight weight) {
    QFont font = QApplication::font();
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * points / 13.0);
    else if (font.pixelSize() > 0)
        font.setPixelSize(qRound(font.pixelSize() * points / 13.0));
    font.setWeight(weight);
    return font;
}

QPalette paletteOf(const QWidget* widget) {
    return widget ? widget->palette() : QApplication::palette();
}
} // namespace

QFont bodyFont() {
    return scaled(13, QFont::Normal);
}
QFont headlineFont() {
    return scaled(13, QFont::DemiBold);
}
QFont captionFont() {
    return scaled(11, QFont::Normal);
}
QFont calloutFont() {
    return scaled(12, QFont::Normal);
}
QFont largeTitleFont() {
    return scaled(26, QFont::Bold);
}
QFont title2Font() {
    return scaled(17, QFont::Bold);
}

QColor primaryTextColor(const QWidget* widget) {
    return paletteOf(widget).color(QPalette::WindowText);
}

QColor secondaryTextColor(const QWidget* widget) {
    QColor color = primaryTextColor(widget);
    color.setAlphaF(0.6f);
    return color;
}

QColor controlBackgroundColor(const QWidget* widget) {
    return paletteOf(widget).color(QPalette::Base);
}

QColor windowBackgroundColor(const QWidget* widget) {
    return paletteOf(widget).color(QPalette::Window);
}

QLabel* makeLabel(const QString& text, const QFont& font, bool secondary, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    // Inside a button a label would take the button's text role, not ours.
    label->setForegroundRole(QPalette::WindowText);
    if (secondary) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, secondaryTextColor(label));
        label->setPalette(palette);
    }
    return label;
}

} // namespace SettingsStyle

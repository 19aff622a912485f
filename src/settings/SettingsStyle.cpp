#include "SettingsStyle.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleOption>

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

QColor mix(const QColor& a, const QColor& b, qreal t) {
    return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * t,
                            a.greenF() + (b.greenF() - a.greenF()) * t,
                            a.blueF() + (b.blueF() - a.blueF()) * t);
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
    return cardColor(paletteOf(widget));
}

QColor cardColor(const QPalette& palette) {
    return mix(palette.color(QPalette::Window), palette.color(QPalette::WindowText), 0.05);
}

QColor controlBorderColor(const QPalette& palette) {
    return mix(cardColor(palette), palette.color(QPalette::WindowText), 0.5);
}

namespace {
// Check boxes, spin boxes and push buttons drawn by the desktop's style, with the two
// things a style cannot know: the card they sit on (their border must read against it)
// and the accent (the palette's Highlight).
class CardControlStyle : public QProxyStyle {
public:
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        if (element != PE_IndicatorCheckBox) {
            QProxyStyle::drawPrimitive(element, option, painter, widget);
            if (element == PE_PanelButtonCommand)
                outline(option, painter, 3);
            return;
        }
        const QPalette& pal = option->palette;
        const bool on = option->state & (State_On | State_NoChange);
        const QRectF box = QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(on ? pal.color(QPalette::Highlight) : controlBorderColor(pal));
        painter->setBrush(on ? pal.color(QPalette::Highlight) : pal.color(QPalette::Base));
        painter->drawRoundedRect(box, 3, 3);
        if (option->state & State_On) {
            painter->setPen(QPen(pal.color(QPalette::HighlightedText), 2, Qt::SolidLine,
                                 Qt::RoundCap, Qt::RoundJoin));
            painter->drawPolyline(
                QPolygonF{{box.left() + box.width() * 0.25, box.center().y()},
                          {box.left() + box.width() * 0.43, box.top() + box.height() * 0.7},
                          {box.left() + box.width() * 0.76, box.top() + box.height() * 0.32}});
        } else if (option->state & State_NoChange) {
            painter->setPen(QPen(pal.color(QPalette::HighlightedText), 2));
            painter->drawLine(QPointF(box.left() + 3, box.center().y()),
                              QPointF(box.right() - 3, box.center().y()));
        }
        // The style's own focus mark is a faint frame around the label: mark the box too, a
        // ring of the accent on an empty one, of the base colour inside a filled one.
        if (option->state & State_HasFocus) {
            painter->setBrush(Qt::NoBrush);
            painter->setPen(QPen(pal.color(on ? QPalette::Base : QPalette::Highlight), on ? 1 : 2));
            painter->drawRoundedRect(on ? box.adjusted(1.5, 1.5, -1.5, -1.5) : box, 2, 2);
        }
        painter->restore();
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option,
                            QPainter* painter, const QWidget* widget) const override {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        if (control == CC_SpinBox && static_cast<const QStyleOptionSpinBox*>(option)->frame)
            outline(option, painter, 2);
    }

private:
    // Over the style's own frame: the accent while focused, pressed or under the pointer.
    static void outline(const QStyleOption* option, QPainter* painter, qreal radius) {
        const bool active = option->state & (State_HasFocus | State_Sunken | State_MouseOver);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setBrush(Qt::NoBrush);
        painter->setPen(active && option->state & State_Enabled
                            ? option->palette.color(QPalette::Highlight)
                            : controlBorderColor(option->palette));
        painter->drawRoundedRect(QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5), radius,
                                 radius);
        painter->restore();
    }
};
} // namespace

QStyle* controlStyle() {
    // Owned by the application, so it outlives every widget drawn with it.
    static QPointer<QStyle> style;
    if (!style) {
        style = new CardControlStyle;
        style->setParent(qApp);
    }
    return style;
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

#include "AccentCheckBox.h"

#include "Style.h"

#include <QPainter>
#include <QPainterPath>

namespace {
constexpr int kBox = 16;
}

AccentCheckBox::AccentCheckBox(QWidget* parent)
    : QCheckBox(parent)
    , m_accent(QColor(175, 82, 222)) {
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
}

void AccentCheckBox::setAccent(const QColor& color) {
    if (color == m_accent)
        return;
    m_accent = color;
    update();
}

QSize AccentCheckBox::sizeHint() const {
    return {kBox + 2, kBox + 2};
}

bool AccentCheckBox::hitButton(const QPoint& pos) const {
    return rect().contains(pos);
}

void AccentCheckBox::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF box(qreal(width() - kBox) / 2 + 0.5, qreal(height() - kBox) / 2 + 0.5, kBox - 1,
                     kBox - 1);
    const qreal opacity = isEnabled() ? 1.0 : 0.45;
    p.setOpacity(opacity);
    if (isChecked()) {
        p.setPen(Qt::NoPen);
        p.setBrush(m_accent);
        p.drawRoundedRect(box, 4, 4);
        QPainterPath tick;
        tick.moveTo(box.left() + box.width() * 0.25, box.top() + box.height() * 0.52);
        tick.lineTo(box.left() + box.width() * 0.43, box.top() + box.height() * 0.70);
        tick.lineTo(box.left() + box.width() * 0.76, box.top() + box.height() * 0.32);
        p.setPen(QPen(Style::textOn(m_accent), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(tick);
    } else {
        p.setPen(QPen(Style::secondaryText(palette()), 1.0));
        p.setBrush(palette().color(QPalette::Base));
        p.drawRoundedRect(box, 4, 4);
    }
    if (hasFocus()) {
        p.setPen(QPen(m_accent, 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(box.adjusted(-1.5, -1.5, 1.5, 1.5), 5, 5);
    }
}

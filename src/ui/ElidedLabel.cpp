#include "ElidedLabel.h"

#include <QEvent>
#include <QPainter>

ElidedLabel::ElidedLabel(QWidget* parent)
    : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void ElidedLabel::setText(const QString& text) {
    if (text == m_text)
        return;
    m_text = text;
    setAccessibleName(text);
    updateGeometry();
    update();
}

QString ElidedLabel::displayedText() const {
    return fontMetrics().elidedText(m_text, Qt::ElideRight, width());
}

void ElidedLabel::setTextColor(const QColor& color) {
    if (color == m_color)
        return;
    m_color = color;
    update();
}

void ElidedLabel::setMinimumTextWidth(int width) {
    m_minimumTextWidth = width;
    updateGeometry();
}

QSize ElidedLabel::sizeHint() const {
    const QFontMetrics fm = fontMetrics();
    return {qMax(m_minimumTextWidth, fm.horizontalAdvance(m_text)), fm.height()};
}

QSize ElidedLabel::minimumSizeHint() const {
    return {m_minimumTextWidth, fontMetrics().height()};
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(m_color.isValid() ? m_color : palette().color(QPalette::WindowText));
    p.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, displayedText());
}

void ElidedLabel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange)
        updateGeometry();
    QWidget::changeEvent(event);
}

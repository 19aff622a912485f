#include "Keyboard.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QPainter>
#include <QRadioButton>

#include <algorithm>

namespace Keyboard {

namespace {
class ReturnPressesButtons : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        auto* button = qobject_cast<QAbstractButton*>(watched);
        // A check box is switched by Space; Return belongs to the dialog around it.
        if (!button || qobject_cast<QCheckBox*>(button) || qobject_cast<QRadioButton*>(button) ||
            key->isAutoRepeat() || key->modifiers() & ~Qt::KeypadModifier ||
            (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) || !button->isEnabled())
            return false;
        button->animateClick();
        return true;
    }
};
} // namespace

void pressButtonsOnReturn() {
    static QObject* filter = nullptr;
    if (filter || !qApp)
        return;
    filter = new ReturnPressesButtons(qApp);
    qApp->installEventFilter(filter);
}

void orderTopToBottom(QWidget* root) {
    QList<QWidget*> stops;
    for (QWidget* w : root->findChildren<QWidget*>())
        if (w->focusPolicy() & Qt::TabFocus && w->isVisibleTo(root))
            stops << w;
    const auto centre = [root](const QWidget* w) {
        return QRect(w->mapTo(root, QPoint()), w->size()).center();
    };
    std::stable_sort(stops.begin(), stops.end(), [&centre](const QWidget* a, const QWidget* b) {
        return centre(a).y() < centre(b).y();
    });
    // Widgets whose middles are closer than half the first one's height share a line; a
    // line reads left to right.
    QList<std::pair<int, QWidget*>> lines;
    int line = 0, lineCentre = 0, lineHalf = -1;
    for (QWidget* w : std::as_const(stops)) {
        if (centre(w).y() > lineCentre + lineHalf) {
            ++line;
            lineCentre = centre(w).y();
            lineHalf = w->height() / 2;
        }
        lines.append({line, w});
    }
    std::stable_sort(lines.begin(), lines.end(), [&centre](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : centre(a.second).x() < centre(b.second).x();
    });
    for (qsizetype i = 0; i < lines.size(); ++i)
        stops[i] = lines[i].second;
    for (qsizetype i = 1; i < stops.size(); ++i)
        QWidget::setTabOrder(stops[i - 1], stops[i]);
}

void drawFocusRing(QPainter& painter, const QWidget* widget, const QRectF& rect, double radius) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(widget->palette().color(QPalette::Base), 1));
    painter.drawRoundedRect(rect.adjusted(2.5, 2.5, -2.5, -2.5), radius - 2, radius - 2);
    painter.setPen(QPen(widget->palette().color(QPalette::Highlight), 2));
    painter.drawRoundedRect(rect.adjusted(1, 1, -1, -1), radius, radius);
    painter.restore();
}

} // namespace Keyboard

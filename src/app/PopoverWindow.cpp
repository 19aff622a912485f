#include "PopoverWindow.h"

#include "popover/ContentView.h"
#include "ui/Style.h"

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

namespace {
constexpr int kGap = 4;
constexpr qint64 kReopenGuardMs = 250;
} // namespace

namespace {

// A Wayland client may not place its windows, and a popup needs a parent window that was
// clicked: there the popover is a small undecorated window the compositor places, closed
// when it loses the focus.
bool compositorPlacesWindows() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

} // namespace

PopoverWindow::PopoverWindow(ContentView* content, QWidget* parent)
    : QWidget(parent, (compositorPlacesWindows() ? Qt::Window : Qt::Popup) |
                          Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint)
    , m_content(content) {
    setWindowTitle(QStringLiteral("Idlewatch"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(m_content);
    // Closed, the popover's rows are not kept current; they are rendered when it opens.
    m_content->setLive(false);
    connect(m_content, &ContentView::rendered, this, [this] {
        if (isVisible())
            reposition();
    });
}

QPoint PopoverWindow::placement(const QRect& anchor, const QPoint& cursor, const QSize& size,
                                const QRect& screen) {
    const bool atIcon = anchor.isValid() && !anchor.isEmpty();
    const QRect at = atIcon ? anchor : QRect(cursor, QSize(1, 1));
    int x = at.x() + at.width() / 2 - size.width() / 2;
    int y = at.bottom() + 1 + kGap;
    // A panel at the bottom of the screen: open upwards.
    if (y + size.height() > screen.bottom() + 1 && at.top() - kGap - size.height() >= screen.top())
        y = at.top() - kGap - size.height();
    x = std::clamp(x, screen.left(), std::max(screen.left(), screen.right() + 1 - size.width()));
    y = std::clamp(y, screen.top(), std::max(screen.top(), screen.bottom() + 1 - size.height()));
    return {x, y};
}

void PopoverWindow::showAt(const QRect& anchor) {
    m_anchor = anchor;
    m_cursor = QCursor::pos();
    // Never taller than the screen: its 1-pixel border on top of the content's limit.
    if (QScreen* screen = screenForAnchor())
        m_content->setHeightLimit(screen->availableGeometry().height() - 2);
    m_content->render();
    m_content->setLive(true);
    adjustSize();
    reposition();
    show();
    raise();
    activateWindow();
}

bool PopoverWindow::justClosed() const {
    return m_closedAt.isValid() && m_closedAt.elapsed() < kReopenGuardMs;
}

QScreen* PopoverWindow::screenForAnchor() const {
    QScreen* screen = QGuiApplication::screenAt(m_anchor.isEmpty() ? m_cursor : m_anchor.center());
    return screen ? screen : QGuiApplication::primaryScreen();
}

void PopoverWindow::reposition() {
    QScreen* screen = screenForAnchor();
    if (!screen)
        return;
    move(placement(m_anchor, m_cursor, size(), screen->availableGeometry()));
}

void PopoverWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

// Square corners: without a compositor, translucent corners would show up black.
void PopoverWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Window));
    p.setPen(Style::separator(palette()));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

bool PopoverWindow::event(QEvent* event) {
    if (event->type() == QEvent::WindowDeactivate && !windowFlags().testFlag(Qt::Popup))
        close();
    return QWidget::event(event);
}

void PopoverWindow::hideEvent(QHideEvent* event) {
    m_closedAt.start();
    m_content->setLive(false);
    QWidget::hideEvent(event);
}

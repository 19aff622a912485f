#pragma once

#include <QElapsedTimer>
#include <QWidget>

class ContentView;
class QScreen;

// The frameless popup that holds the popover's content. It closes on a click elsewhere (on
// Wayland: when it loses the focus) or Escape, keeps itself on screen and follows the
// content's size.
class PopoverWindow : public QWidget {
    Q_OBJECT
public:
    explicit PopoverWindow(ContentView* content, QWidget* parent = nullptr);

    ContentView* content() const { return m_content; }

    // Opens under (or, for a panel at the bottom, over) `anchor`, the tray icon's rectangle;
    // at the pointer when the tray gives no geometry.
    void showAt(const QRect& anchor);
    // True for a short moment after the popup closed: the click on the tray icon that
    // closed it must not open it again.
    bool justClosed() const;

    // Where a popup of `size` goes for an icon at `anchor` (or the pointer at `cursor` when
    // `anchor` is empty), kept inside `screen`.
    static QPoint placement(const QRect& anchor, const QPoint& cursor, const QSize& size,
                            const QRect& screen);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void reposition();
    QScreen* screenForAnchor() const;

    ContentView* m_content;
    QRect m_anchor;
    QPoint m_cursor;
    QElapsedTimer m_closedAt;
};

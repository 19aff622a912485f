#include "OwnWindows.h"

#include <QEvent>
#include <QWindow>

namespace OwnWindows {

namespace {

// A window manager acts only on a mapped window: wait for its first exposure.
class ActWhenExposed : public QObject {
public:
    ActWhenExposed(QWindow* window, std::function<void(QWindow*)> act)
        : QObject(window)
        , m_act(std::move(act)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* window = qobject_cast<QWindow*>(watched);
        if (event->type() == QEvent::Expose && window == parent() && window->isExposed()) {
            window->removeEventFilter(this);
            m_act(window);
            deleteLater();
        }
        return false;
    }

private:
    std::function<void(QWindow*)> m_act;
};

} // namespace

void whenExposed(QWindow* window, std::function<void(QWindow*)> act) {
    if (window->isExposed())
        act(window);
    else
        window->installEventFilter(new ActWhenExposed(window, std::move(act)));
}

} // namespace OwnWindows

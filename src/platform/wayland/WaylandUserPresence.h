#pragma once

#include "engine/UserPresence.h"

#include <QByteArray>

#include <memory>

// The compositor's idle notification over a connection of its own: ext_idle_notifier_v1 where
// offered, else KDE's org_kde_kwin_idle (sway 1.7). Away once the compositor says the seat
// has had no input for `awayAfterSeconds`, present again at its next input. Each question
// first reads what the compositor has sent, so input that came before an event handled
// elsewhere is seen.
class WaylandUserPresence final : public UserPresence {
public:
    // Nothing when no compositor answers at `display` (empty: $WAYLAND_DISPLAY) or it offers
    // neither protocol.
    static std::unique_ptr<WaylandUserPresence> connect(const QByteArray& display,
                                                        int awayAfterSeconds = kAwayAfterSeconds);
    ~WaylandUserPresence() override;
    State state() override;

    struct Private;

private:
    explicit WaylandUserPresence(std::unique_ptr<Private> d);
    std::unique_ptr<Private> d;
};

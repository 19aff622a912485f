#include "WaylandUserPresence.h"

#include "ext-idle-notify-v1-client-protocol.h"
#include "idle-client-protocol.h"
#include "platform/linux/WaylandPump.h"

#include <cstring>
#include <wayland-client.h>

struct WaylandUserPresence::Private {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    ext_idle_notifier_v1* notifier = nullptr;
    ext_idle_notification_v1* notification = nullptr;
    org_kde_kwin_idle* kdeIdle = nullptr;
    org_kde_kwin_idle_timeout* kdeTimeout = nullptr;
    bool away = false;
    bool broken = false;

    ~Private() {
        if (notification)
            ext_idle_notification_v1_destroy(notification);
        if (notifier)
            ext_idle_notifier_v1_destroy(notifier);
        if (kdeTimeout)
            org_kde_kwin_idle_timeout_release(kdeTimeout);
        if (kdeIdle)
            org_kde_kwin_idle_destroy(kdeIdle);
        if (seat)
            wl_seat_destroy(seat);
        if (registry)
            wl_registry_destroy(registry);
        if (display) {
            wl_display_flush(display);
            wl_display_disconnect(display);
        }
    }

    // Reads and dispatches whatever the compositor has sent, without waiting.
    void pump() {
        if (!broken)
            broken = !WaylandPump::pump(display);
    }
};

namespace {

using Private = WaylandUserPresence::Private;

const wl_registry_listener kRegistryListener = {
    [](void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
        auto* d = static_cast<Private*>(data);
        const auto bind = [&](const wl_interface* type) {
            return wl_registry_bind(registry, name, type, 1);
        };
        if (!d->seat && std::strcmp(interface, wl_seat_interface.name) == 0)
            d->seat = static_cast<wl_seat*>(bind(&wl_seat_interface));
        else if (!d->notifier && std::strcmp(interface, ext_idle_notifier_v1_interface.name) == 0)
            d->notifier = static_cast<ext_idle_notifier_v1*>(bind(&ext_idle_notifier_v1_interface));
        else if (!d->kdeIdle && std::strcmp(interface, org_kde_kwin_idle_interface.name) == 0)
            d->kdeIdle = static_cast<org_kde_kwin_idle*>(bind(&org_kde_kwin_idle_interface));
    },
    [](void*, wl_registry*, uint32_t) {},
};

void idled(void* data) {
    static_cast<Private*>(data)->away = true;
}
void resumed(void* data) {
    static_cast<Private*>(data)->away = false;
}

const ext_idle_notification_v1_listener kNotificationListener = {
    [](void* data, ext_idle_notification_v1*) { idled(data); },
    [](void* data, ext_idle_notification_v1*) { resumed(data); },
};
const org_kde_kwin_idle_timeout_listener kKdeTimeoutListener = {
    [](void* data, org_kde_kwin_idle_timeout*) { idled(data); },
    [](void* data, org_kde_kwin_idle_timeout*) { resumed(data); },
};

} // namespace

std::unique_ptr<WaylandUserPresence> WaylandUserPresence::connect(const QByteArray& display,
                                                                  int awayAfterSeconds) {
    auto d = std::make_unique<Private>();
    d->display = wl_display_connect(display.isEmpty() ? nullptr : display.constData());
    if (!d->display)
        return nullptr;
    d->registry = wl_display_get_registry(d->display);
    wl_registry_add_listener(d->registry, &kRegistryListener, d.get());
    if (wl_display_roundtrip(d->display) < 0 || !d->seat || !(d->notifier || d->kdeIdle))
        return nullptr;
    const auto timeout = uint32_t(awayAfterSeconds) * 1000;
    if (d->notifier) {
        d->notification = ext_idle_notifier_v1_get_idle_notification(d->notifier, timeout, d->seat);
        ext_idle_notification_v1_add_listener(d->notification, &kNotificationListener, d.get());
    } else {
        d->kdeTimeout = org_kde_kwin_idle_get_idle_timeout(d->kdeIdle, d->seat, timeout);
        org_kde_kwin_idle_timeout_add_listener(d->kdeTimeout, &kKdeTimeoutListener, d.get());
    }
    if (wl_display_flush(d->display) < 0)
        return nullptr;
    return std::unique_ptr<WaylandUserPresence>(new WaylandUserPresence(std::move(d)));
}

WaylandUserPresence::WaylandUserPresence(std::unique_ptr<Private> p)
    : d(std::move(p)) {}

WaylandUserPresence::~WaylandUserPresence() = default;

UserPresence::State WaylandUserPresence::state() {
    d->pump();
    if (d->broken)
        return State::Unknown;
    return d->away ? State::Away : State::Present;
}

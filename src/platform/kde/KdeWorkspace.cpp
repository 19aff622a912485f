// The KDE Plasma backend, for KWin's window list:
//   KWinToplevels  the connection, the listeners and each window's facts
//   KdeWorkspace   this facade over the core (ToplevelWorkspace)
//
// One deactivation: KWin sends `state_changed` to the window that lost `active` and to the
// one that gained it, in either order; KWinToplevels reports both once everything read is
// dispatched, and the core posts the application that lost its active window.

#include "KdeWorkspace.h"

#include "KWinToplevels.h"

namespace {

QByteArray displayName(const QByteArray& display) {
    return display.isEmpty() ? qgetenv("WAYLAND_DISPLAY") : display;
}

} // namespace

std::unique_ptr<KdeWorkspace> KdeWorkspace::connect(const QByteArray& display, QString* error,
                                                    DesktopEntryIndex& index) {
    std::unique_ptr<KWinToplevels> source = KWinToplevels::open(displayName(display), error);
    if (!source)
        return nullptr;
    std::unique_ptr<KdeWorkspace> ws(new KdeWorkspace(std::move(source), index));
    return ws;
}

bool KdeWorkspace::available(const QByteArray& display, QString* withheld) {
    const KWinToplevels::Offer offer = KWinToplevels::probe(displayName(display));
    if (offer == KWinToplevels::Offer::Withheld && withheld)
        *withheld = KWinToplevels::withheldMessage();
    return offer == KWinToplevels::Offer::Offered;
}

#include "X11Session.h"

#include "Files.h"

#include <QFile>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace {

template <typename Reply> std::unique_ptr<Reply, void (*)(void*)> owned(Reply* reply) {
    return {reply, std::free};
}

struct Xcb {
    xcb_connection_t* c;
    ~Xcb() { xcb_disconnect(c); }
    xcb_atom_t atom(const char* name) const {
        const auto r = owned(
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr));
        return r ? r->atom : XCB_NONE;
    }
    xcb_window_t root() const { return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root; }
    // The windows the window manager manages.
    QList<uint32_t> clients() const {
        const auto r = owned(xcb_get_property_reply(
            c, xcb_get_property(c, 0, root(), atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 0, 4096),
            nullptr));
        const auto* v = static_cast<const uint32_t*>(r ? xcb_get_property_value(r.get()) : nullptr);
        return r ? QList<uint32_t>(v, v + xcb_get_property_value_length(r.get()) / 4)
                 : QList<uint32_t>();
    }
};

} // namespace

bool X11Session::start(const Options& options) {
    if (!prepare())
        return fail("cannot create a temporary folder for the session");
    // Xvfb picks a free display number and writes it to this file when ready.
    QFile out(m_dir->filePath("display"));
    const int fd = out.open(QIODevice::WriteOnly) ? out.handle() : -1;
    const pid_t xvfb = spawn({"Xvfb", "-displayfd", QString::number(fd), "-screen", "0",
                              "1280x800x24", "-nolisten", "tcp", "-noreset"},
                             {}, fd);
    out.close();
    QByteArray number;
    const auto written = [&] {
        QFile in(out.fileName());
        number = in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
        return number.endsWith('\n') || !isRunning(xvfb);
    };
    if (xvfb < 0 || !waitFor(written, 15000) || !number.endsWith('\n'))
        return fail("Xvfb did not start");
    m_display = ':' + number.trimmed();
    m_env.insert("DISPLAY", QString::fromLatin1(m_display));
    const Xcb x{xcb_connect(m_display.constData(), nullptr)};
    if (xcb_connection_has_error(x.c))
        return fail("cannot connect to " + m_display);
    if (options.sessionBus && !startBus())
        return fail("dbus-daemon did not start");

    // Right after it starts, openbox may leave the first map requests queued until another
    // event wakes it: map probe windows, each a new event, until one is managed.
    QList<xcb_window_t> probes;
    bool managed = false;
    if (spawn({"openbox", "--sm-disable"}) < 0)
        return fail("cannot start openbox");
    while (!managed && probes.size() < 40) {
        const xcb_window_t w = probes.emplace_back(xcb_generate_id(x.c));
        xcb_create_window(x.c, XCB_COPY_FROM_PARENT, w, x.root(), 0, 0, 10, 10, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_map_window(x.c, w);
        xcb_flush(x.c);
        managed = waitFor([&] { return x.clients().contains(w); }, 500);
    }
    for (xcb_window_t w : std::as_const(probes))
        xcb_destroy_window(x.c, w);
    xcb_flush(x.c);
    // Tests start from an empty client list.
    if (!managed || !waitFor([&] { return x.clients().isEmpty(); }, 5000))
        return fail("openbox did not become ready");

    if (!options.tray)
        return true;
    // A dark panel that tells no colours, as tint2's stock one: the hardest for the icon.
    const QString tint2rc =
        write("tint2rc", "rounded = 0\nborder_width = 0\nbackground_color = #222222 100\n"
                         "panel_background_id = 1\npanel_items = S\npanel_size = 100% 32\n"
                         "systray_icon_size = 24\npanel_position = bottom center horizontal\n");
    const auto hosted = [&] {
        const auto r = owned(xcb_get_selection_owner_reply(
            x.c, xcb_get_selection_owner(x.c, x.atom("_NET_SYSTEM_TRAY_S0")), nullptr));
        return r && r->owner != XCB_NONE;
    };
    return (!tint2rc.isEmpty() && spawn({"tint2", "-c", tint2rc}) > 0 && waitFor(hosted, 10000)) ||
           fail("tint2 did not become ready");
}

pid_t X11Session::startStatusNotifierHost(const QProcessEnvironment& extra, bool dark) {
    // One panel across the top, a spacer and the tray plugin. Written anew for a panel
    // restarted; but xfconfd, once started, keeps what it read: dark is set through it.
    if (write("config/xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml",
              readFile(QStringLiteral(XFCE_PANEL_CONFIG)))
            .isEmpty() ||
        run({"xfconf-query", "-c", "xfce4-panel", "-p", "/panels/dark-mode", "-s",
             dark ? "true" : "false"}) != 0)
        return -1;
    const pid_t pid = spawn({"xfce4-panel", "--disable-wm-check"}, extra);
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    const auto up = [&] {
        return !isRunning(pid) || busProperty(watcher, "/StatusNotifierWatcher", watcher,
                                              "IsStatusNotifierHostRegistered")
                                      .contains("boolean true");
    };
    return pid > 0 && waitFor(up, 15000) && isRunning(pid) ? pid : -1;
}

QList<QByteArray> X11Session::windowsOf(pid_t pid) {
    // xdotool gives up when a window vanishes during its walk: retry.
    QByteArray out;
    for (int attempt = 0; attempt < 5 && out.trimmed().isEmpty(); ++attempt)
        run({"xdotool", "search", "--pid", QString::number(pid)}, &out, 10000, false);
    return out.trimmed().isEmpty() ? QList<QByteArray>() : out.trimmed().split('\n');
}

bool X11Session::activate(const QByteArray& window, int timeoutMs) {
    // xdotool's own --sync gives up when the window manager passes through "no window".
    QByteArray active;
    const auto isActive = [&] {
        return run({"xdotool", "getactivewindow"}, &active, 10000, false) == 0 &&
               active.trimmed() == window;
    };
    const auto activated = [&] {
        run({"xdotool", "windowactivate", QString::fromLatin1(window)});
        return waitFor(isActive, 400);
    };
    return !window.isEmpty() && waitFor(activated, timeoutMs);
}

bool X11Session::startScreenSaver() {
    const Xcb x{xcb_connect(m_display.constData(), nullptr)};
    if (xcb_connection_has_error(x.c))
        return false;
    xcb_generic_error_t* error =
        xcb_request_check(x.c, xcb_force_screen_saver_checked(x.c, XCB_SCREEN_SAVER_ACTIVE));
    free(error);
    return !error;
}

void X11Session::exportToCurrentProcess() const {
    for (const char* key : {"DISPLAY", "HOME", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME",
                            "XDG_DATA_HOME", "XDG_CACHE_HOME", "DBUS_SESSION_BUS_ADDRESS"})
        qputenv(key, m_env.value(key).toLocal8Bit());
}

// A minimal X client whose window properties the tests choose:
//   --class instance,Class   WM_CLASS (default idlewatch-testclient,IdlewatchTestClient)
//   --windows N              N top-level windows, all alike
//   --pid N                  _NET_WM_PID says N
//   --no-delete              WM_PROTOCOLS without WM_DELETE_WINDOW
//   --no-delete-last         only the last window lacks WM_DELETE_WINDOW
//   --ignore-close           keep windows open on WM_DELETE_WINDOW
//   --fork                   hand the connection to a child and let the parent exit
//   --title T                WM_NAME
//   --reclass instance,Class WM_CLASS becomes this on SIGUSR2
//   --ask-on-close           an editor with unsaved work: a close request on a main window
//                            opens a modal "save?" dialog, transient for it; a second close
//                            on a main window while it is open discards the work and exits;
//                            a close on the dialog cancels it. SIGUSR1 is the user answering
//                            "cancel": the dialog goes, the application stays.
//   --prompt-inside          the same editor drawing its question inside the window, as a
//                            browser's "leave page?" does: no dialog, nothing to see
//   --dialog-takes-focus     the question asks the window manager for the focus
//   --report FILE            appends "asked", "discarded", "cancelled", "answered" to FILE
// It exits when its last window is closed.

#include <xcb/xcb.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <poll.h>
#include <set>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

static volatile sig_atomic_t g_answerCancel = 0, g_reclass = 0;

int main(int argc, char** argv) {
    const std::set<std::string> flags{
        "--no-pid", "--no-delete",    "--no-delete-last",     "--ignore-close",
        "--fork",   "--ask-on-close", "--dialog-takes-focus", "--prompt-inside"};
    std::map<std::string, std::string> value{
        {"--class", "idlewatch-testclient,IdlewatchTestClient"},
        {"--windows", "1"},
        {"--pid", std::to_string(getpid())},
        {"--report", ""},
        {"--title", ""},
        {"--reclass", ""}};
    std::set<std::string> on;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (value.count(arg) && i + 1 < argc)
            value[arg] = argv[++i];
        else if (flags.count(arg))
            on.insert(arg);
        else
            return fprintf(stderr, "testclient: unknown argument %s\n", arg.c_str()), 2;
    }
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c))
        return fprintf(stderr, "testclient: no display\n"), 1;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const auto atom = [c](std::string name) {
        xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(
            c, xcb_intern_atom(c, 0, uint16_t(name.size()), name.c_str()), nullptr);
        const xcb_atom_t a = r ? r->atom : XCB_NONE;
        free(r);
        return a;
    };
    const auto set = [c](xcb_window_t w, xcb_atom_t property, xcb_atom_t type, uint8_t format,
                         const void* data, size_t count) {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, property, type, format, uint32_t(count),
                            data);
    };
    const xcb_atom_t wmProtocols = atom("WM_PROTOCOLS"), wmDelete = atom("WM_DELETE_WINDOW");
    const uint32_t pid = uint32_t(atol(value["--pid"].c_str()));
    const auto classOf = [](std::string names) {
        names += ',';
        std::replace(names.begin(), names.end(), ',', '\0');
        return names;
    };
    const std::string wmClass = classOf(value["--class"]);
    const auto report = [&](const char* event) {
        if (FILE* f = fopen(value["--report"].c_str(), "a"))
            fprintf(f, "%s\n", event), fclose(f);
    };
    // A window with the client's WM_CLASS, _NET_WM_PID and `type`; `state` unless none.
    const auto create = [&](int16_t at, uint16_t width, uint16_t height, bool deletable,
                            xcb_atom_t type, xcb_atom_t state) {
        const xcb_window_t w = xcb_generate_id(c);
        const uint32_t values[] = {screen->white_pixel, XCB_EVENT_MASK_STRUCTURE_NOTIFY};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, at, at, width, height, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
        set(w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, wmClass.data(), wmClass.size());
        set(w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, value["--title"].data(),
            value["--title"].size());
        set(w, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, &pid, 1);
        set(w, wmProtocols, XCB_ATOM_ATOM, 32, &wmDelete, deletable);
        set(w, atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32, &type, 1);
        if (state != XCB_NONE)
            set(w, atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 32, &state, 1);
        return w;
    };

    std::vector<xcb_window_t> windows(std::max(1, atoi(value["--windows"].c_str())));
    for (size_t i = 0; i < windows.size(); ++i) {
        const bool deletable =
            !on.count("--no-delete") && !(on.count("--no-delete-last") && i + 1 == windows.size());
        windows[i] = create(int16_t(20 + 30 * i), 200, 120, deletable,
                            atom("_NET_WM_WINDOW_TYPE_NORMAL"), XCB_NONE);
        xcb_map_window(c, windows[i]);
    }
    xcb_flush(c);
    // Wait until every window is mapped, so the window manager has managed them all.
    for (size_t mapped = 0; mapped < windows.size();) {
        xcb_generic_event_t* e = xcb_wait_for_event(c);
        if (!e)
            return 1;
        mapped += (e->response_type & 0x7f) == XCB_MAP_NOTIFY;
        free(e);
    }
    // The windows now belong to a process that is not in _NET_WM_PID.
    if (const pid_t child = on.count("--fork") ? fork() : 0; child != 0)
        _exit(child < 0);

    signal(SIGUSR1, [](int) { g_answerCancel = 1; });
    signal(SIGUSR2, [](int) { g_reclass = 1; });
    xcb_window_t dialog = XCB_NONE;
    bool prompt = false; // drawn inside the window
    const auto closeDialog = [&](const char* event) {
        xcb_destroy_window(c, std::exchange(dialog, XCB_NONE));
        xcb_flush(c);
        report(event);
    };
    // As a pager would ask, so the window manager does not refuse it.
    const auto takeFocus = [&](xcb_window_t window) {
        const xcb_client_message_event_t focus{
            XCB_CLIENT_MESSAGE, 32, 0, window, atom("_NET_ACTIVE_WINDOW"), {.data32 = {2}}};
        if (on.count("--dialog-takes-focus"))
            xcb_send_event(c, 0, screen->root,
                           XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT |
                               XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                           reinterpret_cast<const char*>(&focus));
        xcb_flush(c);
    };

    pollfd p{xcb_get_file_descriptor(c), POLLIN, 0};
    for (bool running = true; running && !xcb_connection_has_error(c); poll(&p, 1, 50)) {
        if (g_reclass) {
            g_reclass = 0;
            const std::string names = classOf(value["--reclass"]);
            for (xcb_window_t w : windows)
                set(w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, names.data(), names.size());
            xcb_flush(c);
        }
        if (g_answerCancel) {
            g_answerCancel = 0;
            if (dialog != XCB_NONE)
                closeDialog("answered");
            if (std::exchange(prompt, false))
                report("answered");
        }
        // Everything already received is read, even after the last window went: a close
        // request sent with it to the dialog is reported too.
        for (xcb_generic_event_t* e; (e = xcb_poll_for_event(c)); free(e)) {
            const auto* m = reinterpret_cast<xcb_client_message_event_t*>(e);
            if ((e->response_type & 0x7f) != XCB_CLIENT_MESSAGE || m->type != wmProtocols ||
                m->data.data32[0] != wmDelete)
                continue;
            const bool asks = on.count("--ask-on-close") || on.count("--prompt-inside");
            if (m->window == dialog) {
                closeDialog("cancelled");
            } else if (asks && (dialog != XCB_NONE || prompt)) {
                report("discarded");
                running = false;
            } else if (on.count("--prompt-inside")) {
                prompt = true;
                takeFocus(m->window);
                report("asked");
            } else if (on.count("--ask-on-close")) {
                dialog = create(60, 160, 80, true, atom("_NET_WM_WINDOW_TYPE_DIALOG"),
                                atom("_NET_WM_STATE_MODAL"));
                set(dialog, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 32, &m->window, 1);
                xcb_map_window(c, dialog);
                takeFocus(dialog);
                report("asked");
            } else if (!on.count("--ignore-close")) {
                xcb_destroy_window(c, m->window);
                xcb_flush(c);
                std::erase(windows, m->window);
                running = !windows.empty();
            }
        }
    }
    xcb_disconnect(c);
    return 0;
}

// A minimal X client whose window properties the tests choose:
//   --class instance,Class   WM_CLASS (default idlewatch-testclient,IdlewatchTestClient)
//   --type T                 normal | dialog | utility | dock | desktop | none
//   --windows N              N top-level windows, all alike
//   --skip-taskbar           _NET_WM_STATE_SKIP_TASKBAR
//   --no-pid                 no _NET_WM_PID
//   --pid N                  _NET_WM_PID says N
//   --no-delete              WM_PROTOCOLS without WM_DELETE_WINDOW
//   --no-delete-last         only the last window lacks WM_DELETE_WINDOW
//   --ignore-close           keep windows open on WM_DELETE_WINDOW
//   --fork                   hand the connection to a child and let the parent exit
//   --linger                 keep running after the display connection is closed
//   --ask-on-close           an editor with unsaved work: a close request on a main window
//                            opens a modal "save?" dialog, transient for it; a second close
//                            on a main window while it is open discards the work and exits;
//                            a close on the dialog cancels it. SIGUSR1 is the user answering
//                            "cancel": the dialog goes, the application stays.
//   --dialog-takes-focus     the dialog asks the window manager for the focus
//   --report FILE            appends "asked", "discarded", "cancelled", "answered" to FILE
// It prints "ready" once every window is mapped and exits when its last window is closed.

#include <xcb/xcb.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : XCB_NONE;
    free(r);
    return a;
}

volatile sig_atomic_t g_answerCancel = 0;

std::string g_reportPath;

void report(const char* event) {
    if (g_reportPath.empty())
        return;
    if (FILE* f = fopen(g_reportPath.c_str(), "a")) {
        fprintf(f, "%s\n", event);
        fclose(f);
    }
}

void setAtoms(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property,
              const std::vector<xcb_atom_t>& values) {
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, property, XCB_ATOM_ATOM, 32,
                        uint32_t(values.size()), values.data());
}

} // namespace

int main(int argc, char** argv) {
    std::string wmClass = "idlewatch-testclient,IdlewatchTestClient";
    std::string type = "normal";
    int windowCount = 1;
    bool skipTaskbar = false, setPid = true, deleteProtocol = true, ignoreClose = false;
    bool forkAway = false, noDeleteLast = false, linger = false, askOnClose = false;
    bool dialogTakesFocus = false;
    long pidValue = long(getpid());
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--class" && hasValue)
            wmClass = argv[++i];
        else if (arg == "--type" && hasValue)
            type = argv[++i];
        else if (arg == "--windows" && hasValue)
            windowCount = std::max(1, atoi(argv[++i]));
        else if (arg == "--skip-taskbar")
            skipTaskbar = true;
        else if (arg == "--no-pid")
            setPid = false;
        else if (arg == "--pid" && hasValue)
            pidValue = atol(argv[++i]);
        else if (arg == "--no-delete")
            deleteProtocol = false;
        else if (arg == "--no-delete-last")
            noDeleteLast = true;
        else if (arg == "--ignore-close")
            ignoreClose = true;
        else if (arg == "--fork")
            forkAway = true;
        else if (arg == "--linger")
            linger = true;
        else if (arg == "--ask-on-close")
            askOnClose = true;
        else if (arg == "--dialog-takes-focus")
            dialogTakesFocus = true;
        else if (arg == "--report" && hasValue)
            g_reportPath = argv[++i];
        else {
            fprintf(stderr, "testclient: unknown argument %s\n", arg.c_str());
            return 2;
        }
    }

    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        fprintf(stderr, "testclient: no display\n");
        return 1;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_atom_t wmProtocols = atom(c, "WM_PROTOCOLS");
    const xcb_atom_t wmDelete = atom(c, "WM_DELETE_WINDOW");
    const xcb_atom_t netWmPid = atom(c, "_NET_WM_PID");
    const xcb_atom_t netWmState = atom(c, "_NET_WM_STATE");
    const xcb_atom_t skipAtom = atom(c, "_NET_WM_STATE_SKIP_TASKBAR");
    const xcb_atom_t typeProperty = atom(c, "_NET_WM_WINDOW_TYPE");
    std::string typeName = "_NET_WM_WINDOW_TYPE_";
    for (char ch : type)
        typeName += char(toupper(ch));
    const xcb_atom_t typeAtom = type == "none" ? XCB_NONE : atom(c, typeName.c_str());

    char host[256] = {};
    gethostname(host, sizeof host - 1);
    std::string classValue = wmClass;
    for (char& ch : classValue)
        if (ch == ',')
            ch = '\0';
    classValue.push_back('\0');

    std::vector<xcb_window_t> windows;
    for (int i = 0; i < windowCount; ++i) {
        const xcb_window_t w = xcb_generate_id(c);
        const uint32_t values[] = {screen->white_pixel, XCB_EVENT_MASK_STRUCTURE_NOTIFY};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, 20 + 30 * i, 20 + 30 * i, 200,
                          120, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                            uint32_t(classValue.size()), classValue.data());
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                            uint32_t(strlen("testclient")), "testclient");
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLIENT_MACHINE,
                            XCB_ATOM_STRING, 8, uint32_t(strlen(host)), host);
        if (setPid) {
            const uint32_t pid = uint32_t(pidValue);
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, netWmPid, XCB_ATOM_CARDINAL, 32, 1,
                                &pid);
        }
        std::vector<xcb_atom_t> protocols;
        if (deleteProtocol && !(noDeleteLast && i == windowCount - 1))
            protocols.push_back(wmDelete);
        setAtoms(c, w, wmProtocols, protocols);
        if (typeAtom != XCB_NONE)
            setAtoms(c, w, typeProperty, {typeAtom});
        if (skipTaskbar)
            setAtoms(c, w, netWmState, {skipAtom});
        xcb_map_window(c, w);
        windows.push_back(w);
    }
    xcb_flush(c);

    // Wait until every window is mapped, so the window manager has managed them all.
    size_t mapped = 0;
    while (mapped < windows.size()) {
        xcb_generic_event_t* e = xcb_wait_for_event(c);
        if (!e)
            return 1;
        if ((e->response_type & 0x7f) == XCB_MAP_NOTIFY)
            ++mapped;
        free(e);
    }
    printf("ready\n");
    fflush(stdout);

    if (forkAway) {
        const pid_t child = fork();
        if (child < 0)
            return 1;
        if (child > 0)
            _exit(0); // the windows now belong to a process that is not in _NET_WM_PID
    }

    signal(SIGUSR1, [](int) { g_answerCancel = 1; });
    const xcb_atom_t transientFor = XCB_ATOM_WM_TRANSIENT_FOR;
    const xcb_atom_t modalAtom = atom(c, "_NET_WM_STATE_MODAL");
    const xcb_atom_t dialogType = atom(c, "_NET_WM_WINDOW_TYPE_DIALOG");
    const xcb_atom_t activeWindow = atom(c, "_NET_ACTIVE_WINDOW");
    xcb_window_t dialog = XCB_NONE;
    auto closeDialog = [&] {
        xcb_destroy_window(c, dialog);
        xcb_flush(c);
        dialog = XCB_NONE;
    };
    auto openDialog = [&](xcb_window_t parent) {
        dialog = xcb_generate_id(c);
        const uint32_t values[] = {screen->white_pixel, XCB_EVENT_MASK_STRUCTURE_NOTIFY};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, dialog, screen->root, 60, 60, 160, 80, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                          XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, dialog, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                            uint32_t(classValue.size()), classValue.data());
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, dialog, transientFor, XCB_ATOM_WINDOW, 32, 1,
                            &parent);
        if (setPid) {
            const uint32_t pid = uint32_t(pidValue);
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, dialog, netWmPid, XCB_ATOM_CARDINAL, 32,
                                1, &pid);
        }
        setAtoms(c, dialog, wmProtocols, {wmDelete});
        setAtoms(c, dialog, typeProperty, {dialogType});
        setAtoms(c, dialog, netWmState, {modalAtom});
        xcb_map_window(c, dialog);
        if (dialogTakesFocus) {
            // As a pager would ask, so the window manager does not refuse it.
            xcb_client_message_event_t m{};
            m.response_type = XCB_CLIENT_MESSAGE;
            m.format = 32;
            m.window = dialog;
            m.type = activeWindow;
            m.data.data32[0] = 2;
            m.data.data32[1] = XCB_CURRENT_TIME;
            xcb_send_event(c, 0, screen->root,
                           XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT |
                               XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                           reinterpret_cast<const char*>(&m));
        }
        xcb_flush(c);
    };

    const int fd = xcb_get_file_descriptor(c);
    for (bool running = true; running;) {
        if (g_answerCancel) {
            g_answerCancel = 0;
            if (dialog != XCB_NONE) {
                closeDialog();
                report("answered");
            }
        }
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, 50);
        xcb_generic_event_t* e = xcb_poll_for_event(c);
        if (!e && xcb_connection_has_error(c))
            break;
        for (; e && running; e = xcb_poll_for_event(c)) {
            const uint8_t kind = e->response_type & 0x7f;
            if (kind == XCB_CLIENT_MESSAGE) {
                const auto* m = reinterpret_cast<xcb_client_message_event_t*>(e);
                const bool close = m->type == wmProtocols && m->data.data32[0] == wmDelete;
                if (close && m->window == dialog) {
                    report("cancelled");
                    closeDialog();
                } else if (close && askOnClose && dialog != XCB_NONE) {
                    report("discarded");
                    running = false;
                } else if (close && askOnClose) {
                    report("asked");
                    openDialog(m->window);
                } else if (close && !ignoreClose) {
                    xcb_destroy_window(c, m->window);
                    xcb_flush(c);
                    std::erase(windows, m->window);
                    running = !windows.empty();
                }
            }
            free(e);
        }
        if (e)
            free(e);
    }
    if (linger && xcb_connection_has_error(c))
        for (;;)
            pause();
    xcb_disconnect(c);
    return 0;
}

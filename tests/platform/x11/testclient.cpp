// A minimal X client whose window properties the tests choose:
//   --class instance,Class   WM_CLASS (default idlewatch-testclient,IdlewatchTestClient)
//   --type T                 normal | dialog | utility | dock | desktop | none
//   --windows N              N top-level windows, all alike
//   --skip-taskbar           _NET_WM_STATE_SKIP_TASKBAR
//   --no-pid                 no _NET_WM_PID
//   --pid N                  _NET_WM_PID says N
//   --no-delete              WM_PROTOCOLS without WM_DELETE_WINDOW
//   --ignore-close           keep windows open on WM_DELETE_WINDOW
//   --fork                   hand the connection to a child and let the parent exit
// It prints "ready" once every window is mapped and exits when its last window is closed.

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    bool forkAway = false;
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
        else if (arg == "--ignore-close")
            ignoreClose = true;
        else if (arg == "--fork")
            forkAway = true;
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
        if (deleteProtocol)
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

    while (xcb_generic_event_t* e = xcb_wait_for_event(c)) {
        const uint8_t kind = e->response_type & 0x7f;
        if (kind == XCB_CLIENT_MESSAGE) {
            const auto* m = reinterpret_cast<xcb_client_message_event_t*>(e);
            if (m->type == wmProtocols && m->data.data32[0] == wmDelete && !ignoreClose) {
                xcb_destroy_window(c, m->window);
                xcb_flush(c);
                std::erase(windows, m->window);
                if (windows.empty()) {
                    free(e);
                    break;
                }
            }
        }
        free(e);
    }
    xcb_disconnect(c);
    return 0;
}

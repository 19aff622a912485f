// Idlewatch's window exporter: the shared body of both builds (GNOME 43-44 and 45+), which
// add their own imports and entry point around it. GNOME offers no other program a list of
// windows or a way to ask one to close, so this hands that power to Idlewatch alone: every
// call is checked against the executable of the calling process, and the signals go only to
// callers that passed.

const BUS_NAME = 'com.Idlewatch.Idlewatch.Shell';
const OBJECT_PATH = '/com/Idlewatch/Idlewatch/Shell';
const INTERFACE = 'com.Idlewatch.Idlewatch.Shell1';
const INTERFACE_XML = `<node>
  <interface name="${INTERFACE}">
    <method name="ListWindows"><arg type="aa{sv}" direction="out" name="windows"/></method>
    <method name="FocusedWindow"><arg type="t" direction="out" name="id"/></method>
    <method name="CloseWindow">
      <arg type="t" direction="in" name="id"/><arg type="b" direction="out" name="sent"/>
    </method>
    <method name="IdleTime"><arg type="t" direction="out" name="milliseconds"/></method>
    <signal name="WindowOpened"><arg type="t" name="id"/></signal>
    <signal name="WindowChanged"><arg type="t" name="id"/></signal>
    <signal name="WindowClosed"><arg type="t" name="id"/></signal>
    <signal name="FocusChanged"><arg type="t" name="id"/></signal>
  </interface>
</node>`;

// What changes a window's facts as the backend reads them.
const WATCHED = ['title', 'wm-class', 'gtk-application-id', 'minimized', 'fullscreen',
    'skip-taskbar', 'window-type'];

class WindowExporter {
    // `allowListPath`: the file naming the executables that may call, one a line. It lies
    // in the extension's own folder, so only who may rewrite the extension may change it.
    constructor(allowListPath) {
        this._allowListPath = allowListPath;
    }

    enable() {
        this._allowed = this._readAllowList();
        this._verdicts = new Map();   // unique bus name -> may call
        this._subscribers = new Map(); // unique bus name -> name watch
        this._windowSignals = new Map(); // Meta.Window -> handler ids
        this._tracker = Shell.WindowTracker.get_default();
        this._impl = Gio.DBusExportedObject.wrapJSObject(INTERFACE_XML, this);
        this._impl.export(Gio.DBus.session, OBJECT_PATH);
        this._displaySignals = [
            global.display.connect('window-created', (d, w) => this._track(w, true)),
            global.display.connect('notify::focus-window', () => this._focusChanged()),
        ];
        for (const w of global.display.list_all_windows())
            this._track(w, false);
        this._nameId = Gio.bus_own_name_on_connection(Gio.DBus.session, BUS_NAME,
            Gio.BusNameOwnerFlags.NONE, null, null);
    }

    disable() {
        Gio.bus_unown_name(this._nameId);
        for (const id of this._displaySignals)
            global.display.disconnect(id);
        for (const [w, ids] of this._windowSignals)
            ids.forEach(id => w.disconnect(id));
        for (const watch of this._subscribers.values())
            Gio.bus_unwatch_name(watch);
        this._impl.unexport();
        this._impl = null;
        this._windowSignals.clear();
        this._subscribers.clear();
        this._verdicts.clear();
    }

    _readAllowList() {
        try {
            const [, bytes] = GLib.file_get_contents(this._allowListPath);
            return new TextDecoder().decode(bytes).split('\n').map(l => l.trim())
                .filter(l => l.startsWith('/'));
        } catch (e) {
            logError(e, 'Idlewatch: no allow-list, every caller is refused');
            return [];
        }
    }

    // The caller's executable, from its process as the bus knows it (not from anything the
    // caller says), against the allow-list. A unique name never changes hands, so the
    // verdict is kept while the name lives.
    _mayCall(sender) {
        if (this._verdicts.has(sender))
            return this._verdicts.get(sender);
        let allowed = false;
        try {
            const reply = Gio.DBus.session.call_sync('org.freedesktop.DBus',
                '/org/freedesktop/DBus', 'org.freedesktop.DBus', 'GetConnectionUnixProcessID',
                new GLib.Variant('(s)', [sender]), new GLib.VariantType('(u)'),
                Gio.DBusCallFlags.NONE, -1, null);
            const [pid] = reply.deepUnpack();
            allowed = this._allowed.includes(GLib.file_read_link(`/proc/${pid}/exe`));
        } catch (e) {
            allowed = false;
        }
        this._verdicts.set(sender, allowed);
        if (allowed) {
            this._subscribers.set(sender, Gio.bus_watch_name_on_connection(Gio.DBus.session,
                sender, Gio.BusNameWatcherFlags.NONE, null, () => this._forget(sender)));
        }
        return allowed;
    }

    _forget(sender) {
        const watch = this._subscribers.get(sender);
        if (watch !== undefined)
            Gio.bus_unwatch_name(watch);
        this._subscribers.delete(sender);
        this._verdicts.delete(sender);
    }

    // Runs `answer` for an allowed caller; everyone else gets AccessDenied.
    _answer(invocation, signature, answer) {
        if (!this._mayCall(invocation.get_sender())) {
            invocation.return_dbus_error('org.freedesktop.DBus.Error.AccessDenied',
                'Only Idlewatch may call this.');
            return;
        }
        invocation.return_value(new GLib.Variant(signature, [answer()]));
    }

    _emit(name, id) {
        for (const sender of this._subscribers.keys()) {
            Gio.DBus.session.emit_signal(sender, OBJECT_PATH, INTERFACE, name,
                new GLib.Variant('(t)', [id]));
        }
    }

    _track(w, announce) {
        if (this._windowSignals.has(w) || w.is_override_redirect())
            return;
        const changed = () => this._emit('WindowChanged', w.get_id());
        const ids = WATCHED.map(p => w.connect(`notify::${p}`, changed));
        ids.push(w.connect('unmanaged', () => {
            ids.forEach(id => w.disconnect(id));
            this._windowSignals.delete(w);
            this._emit('WindowClosed', w.get_id());
        }));
        this._windowSignals.set(w, ids);
        if (announce)
            this._emit('WindowOpened', w.get_id());
    }

    _focusChanged() {
        const w = global.display.focus_window;
        this._emit('FocusChanged', w ? w.get_id() : 0);
    }

    _facts(w) {
        const app = this._tracker.get_window_app(w);
        const entry = app && !app.is_window_backed() ? app.get_id() : '';
        const parent = w.get_transient_for();
        return {
            id: new GLib.Variant('t', w.get_id()),
            class: new GLib.Variant('s', w.get_wm_class() ?? ''),
            instance: new GLib.Variant('s', w.get_wm_class_instance() ?? ''),
            appId: new GLib.Variant('s', w.get_gtk_application_id() ?? ''),
            sandboxId: new GLib.Variant('s', w.get_sandboxed_app_id() ?? ''),
            desktopEntry: new GLib.Variant('s', entry ?? ''),
            title: new GLib.Variant('s', w.get_title() ?? ''),
            pid: new GLib.Variant('x', w.get_pid()),
            // The X server's window id for an XWayland window; its description elsewhere.
            x11: new GLib.Variant('b', w.get_client_type() === Meta.WindowClientType.X11),
            description: new GLib.Variant('s', w.get_description() ?? ''),
            type: new GLib.Variant('u', w.get_window_type()),
            transientFor: new GLib.Variant('t', parent ? parent.get_id() : 0),
            focus: new GLib.Variant('b', w.has_focus()),
            minimized: new GLib.Variant('b', w.minimized),
            fullscreen: new GLib.Variant('b', w.fullscreen),
            skipTaskbar: new GLib.Variant('b', w.skip_taskbar),
            canClose: new GLib.Variant('b', w.can_close()),
        };
    }

    _window(id) {
        return global.display.list_all_windows().find(w => w.get_id() === id) ?? null;
    }

    ListWindowsAsync(params, invocation) {
        this._answer(invocation, '(aa{sv})', () => global.display.list_all_windows()
            .filter(w => !w.is_override_redirect()).map(w => this._facts(w)));
    }

    FocusedWindowAsync(params, invocation) {
        this._answer(invocation, '(t)', () => {
            const w = global.display.focus_window;
            return w ? w.get_id() : 0;
        });
    }

    // As a click on the window's close button: the application may ask its user first.
    CloseWindowAsync([id], invocation) {
        this._answer(invocation, '(b)', () => {
            const w = this._window(id);
            if (!w || !w.can_close())
                return false;
            w.delete(global.display.get_current_time_roundtrip());
            return true;
        });
    }

    IdleTimeAsync(params, invocation) {
        this._answer(invocation, '(t)', () =>
            global.backend.get_core_idle_monitor().get_idletime());
    }
}

'use strict';
// The tests' hands in GNOME Shell: focus or close a window by its title, as a user would.
const {Gio} = imports.gi;
const Main = imports.ui.main;

const XML = `<node><interface name="com.Idlewatch.Test.Shell">
  <method name="Activate"><arg type="s" direction="in"/><arg type="b" direction="out"/></method>
  <method name="Delete"><arg type="s" direction="in"/><arg type="b" direction="out"/></method>
</interface></node>`;

class TestHands {
    enable() {
        this._impl = Gio.DBusExportedObject.wrapJSObject(XML, this);
        this._impl.export(Gio.DBus.session, '/com/Idlewatch/Test/Shell');
        Gio.bus_own_name_on_connection(Gio.DBus.session, 'com.Idlewatch.Test.Shell', 0, null, null);
    }

    disable() {
        this._impl.unexport();
    }

    Activate(title) {
        const w = global.display.list_all_windows().find(x => x.get_title() === title);
        Main.overview.hide();
        w?.activate(global.get_current_time());
        return Boolean(w);
    }

    Delete(title) {
        const w = global.display.list_all_windows().find(x => x.get_title() === title);
        w?.delete(global.get_current_time());
        return Boolean(w);
    }
}

// eslint-disable-next-line no-unused-vars
function init() {
    return new TestHands();
}

'use strict';
// The test session's hands in GNOME Shell: leaves the overview and focuses or closes a window
// by its title, as a user would. Installed only into the tests' private shells.
const {Gio, GLib} = imports.gi;
const Main = imports.ui.main;

const XML = `<node><interface name="com.Idlewatch.Test.Shell">
  <method name="Activate"><arg type="s" direction="in"/><arg type="b" direction="out"/></method>
  <method name="Delete"><arg type="s" direction="in"/><arg type="b" direction="out"/></method>
</interface></node>`;

class TestHands {
    enable() {
        this._impl = Gio.DBusExportedObject.wrapJSObject(XML, this);
        this._impl.export(Gio.DBus.session, '/com/Idlewatch/Test/Shell');
        this._name = Gio.bus_own_name_on_connection(Gio.DBus.session, 'com.Idlewatch.Test.Shell',
            Gio.BusNameOwnerFlags.NONE, null, null);
    }

    disable() {
        Gio.bus_unown_name(this._name);
        this._impl.unexport();
    }

    _find(title) {
        return global.display.list_all_windows().find(w => w.get_title() === title);
    }

    Activate(title) {
        const w = this._find(title);
        if (!w)
            return false;
        Main.overview.hide();
        w.activate(global.get_current_time());
        return true;
    }

    Delete(title) {
        const w = this._find(title);
        if (w)
            w.delete(global.get_current_time());
        return Boolean(w);
    }
}

// eslint-disable-next-line no-unused-vars
function init() {
    return new TestHands();
}

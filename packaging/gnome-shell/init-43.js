'use strict';
// GNOME Shell 43-44: legacy imports.
const {Gio, GLib, Meta, Shell} = imports.gi;

#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// An X window id: the same 32-bit value xcb uses, kept free of xcb so that the process
// table stays plain data.
using WindowId = quint32;

enum class WindowType { Untyped, Normal, Dialog, Utility, Dock, Desktop, Other };

// What the window cache knows of one managed top-level window, decoded from its
// properties and map state. X11Toplevels hands it to the core as a Toplevel.
struct WindowState {
    qint64 netWmPid = 0; // _NET_WM_PID: the client's own word
    qint64 resPid = 0;   // X-Resource: the server's, given for local clients only
    QString wmInstance;
    QString wmClass;
    QString gtkApplicationId;
    QString kdeDesktopFile;
    QString title; // _NET_WM_NAME, else WM_NAME
    QString wmName;
    QByteArray clientMachine;
    WindowType type = WindowType::Untyped;
    WindowId transientFor = 0;
    bool modal = false;
    bool hidden = false;
    bool skipTaskbar = false;
    bool fullscreen = false;
    bool mapped = false;
    bool everMapped = false;
    bool deleteWindowProtocol = false;
};

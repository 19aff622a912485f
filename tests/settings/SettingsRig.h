#pragma once

#include "settings/SettingsView.h"

#include "LaunchAtLogin/LaunchAtLogin.h"
#include "engine/RunningAppsManager.h"
#include "support/FakeWorkspace.h"
#include "support/ManualClock.h"
#include "support/TempStore.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLabel>
#include <QTemporaryDir>

#include <memory>
#include <type_traits>

// A settings view over an engine on a fake workspace, a manual clock and a temporary
// store. The launch-at-login switch reads a private autostart folder, never the user's.
struct SettingsRig {
    QTemporaryDir config;
    TempStore store;
    FakeWorkspace workspace;
    ManualClock clock;
    LaunchAtLogin::Observable launchAtLogin;
    std::unique_ptr<RunningAppsManager> engine;
    std::unique_ptr<SettingsView> view;

    SettingsRig() {
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        workspace.setEntryFileSuffix(QStringLiteral("desktop"));
    }

    // Starts the engine (registering whatever runs) and builds the view.
    SettingsView& open(SettingsPane pane = SettingsPane::general) {
        engine = std::make_unique<RunningAppsManager>(workspace, *store, clock);
        drain();
        view = std::make_unique<SettingsView>(*engine, launchAtLogin, pane);
        return *view;
    }

    // The control of the open view whose accessible name or button text is `name`.
    template <typename W> W* control(const QString& name) const {
        for (W* widget : view->findChildren<W*>()) {
            if (widget->accessibleName() == name)
                return widget;
            if constexpr (std::is_base_of_v<QAbstractButton, W>)
                if (widget->text() == name)
                    return widget;
        }
        return nullptr;
    }
    // The first label of the open view whose text starts with `prefix`.
    QLabel* label(const QString& prefix) const {
        for (QLabel* l : view->findChildren<QLabel*>())
            if (l->text().startsWith(prefix))
                return l;
        return nullptr;
    }

    static void drain() { QCoreApplication::sendPostedEvents(); }

    // One tracked background application, stamped at the current time.
    RunningApplication addTrackedApp(const QString& name) {
        RunningApplication app =
            workspace.add({.name = name, .applicationId = QStringLiteral("org.example.") + name});
        if (engine) {
            engine->addCurrentRunningApps();
            drain();
        }
        return app;
    }

    // An application entry the chooser can return.
    QString addEntry(const QString& id, const QString& name) {
        const QString path = QStringLiteral("/apps/%1.desktop").arg(id);
        workspace.addEntry(path, ApplicationEntry{id, name});
        return path;
    }
};

// Opens the settings window under a real X server for test_settings_window_x11. It reads
// one command per line on stdin: "open" (openSettings), "close" (closes the window),
// "quit"; it answers each with "done" once the event loop has handled it.
#include "settings/SettingsWindowController.h"

#include "LaunchAtLogin/LaunchAtLogin.h"
#include "engine/RunningAppsManager.h"
#include "support/FakeWorkspace.h"
#include "support/ManualClock.h"
#include "support/TempStore.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    TempStore store;
    FakeWorkspace workspace;
    ManualClock clock;
    RunningAppsManager engine(workspace, *store, clock);
    LaunchAtLogin::Observable launchAtLogin;
    SettingsWindowController settings(engine, launchAtLogin);

    QSocketNotifier input(fileno(stdin), QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        std::string line;
        if (!std::getline(std::cin, line) || line == "quit") {
            app.quit();
            return;
        }
        if (line == "open")
            settings.openSettings(SettingsPane::general);
        else if (line == "close" && settings.window())
            settings.window()->close();
        QTimer::singleShot(0, [] { std::cout << "done" << std::endl; });
    });
    return app.exec();
}

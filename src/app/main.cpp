#include "IdlewatchApp.h"
#include "SingleInstance.h"

#include "BuildInfo.h"
#include "engine/RunningAppsManager.h"
#include "platform/x11/SessionCheck.h"
#include "platform/x11/X11Workspace.h"
#ifdef IDLEWATCH_HAVE_WAYLAND
#include "platform/wayland/WaylandWorkspace.h"
#endif
#include "preferences/AppIdentity.h"
#include "preferences/UserDefaults.h"
#include "ui/Artwork.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>
#include <memory>

namespace {

// Marks a start by the desktop's autostart; the launch-at-login module reads it.
const char kLaunchedAtLogin[] = "launched-at-login";

void describe(QCoreApplication& app) {
    app.setApplicationName(QString::fromLatin1(kAppDisplayName));
    app.setApplicationVersion(QString::fromLatin1(kAppVersion));
}

// Whether the Wayland compositor of this session lists other applications' windows.
bool waylandToplevelsOffered() {
#ifdef IDLEWATCH_HAVE_WAYLAND
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && WaylandWorkspace::available({});
#else
    return false;
#endif
}

// The compositor's own window list where it offers one; otherwise X11, which under Wayland
// sees only XWayland clients.
std::unique_ptr<Workspace> connectWorkspace(bool wayland, QString* error) {
#ifdef IDLEWATCH_HAVE_WAYLAND
    if (wayland)
        if (auto workspace = WaylandWorkspace::connect({}, error))
            return workspace;
#else
    Q_UNUSED(wayland);
#endif
    if (const QString warning = waylandSessionWarning(); !warning.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(warning));
    return X11Workspace::connect(qgetenv("DISPLAY"), error);
}

// Nothing else may start before this answers: a second launch only asks the first one to
// open its popover, and without a window list to watch there is nothing to do.
int preflight(int argc, char** argv, bool* runHere, bool* wayland) {
    QCoreApplication probe(argc, argv);
    describe(probe);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Quits the desktop applications you have stopped using."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(QCommandLineOption(QString::fromLatin1(kLaunchedAtLogin),
                                        QStringLiteral("Started by the desktop at login.")));
    parser.process(probe); // exits for --help, --version and unknown options

    *runHere = false;
    if (SingleInstance().askRunningInstanceToShow())
        return 0;

    QString error;
    // Bare connections: a workspace here would create the desktop-entry index under this
    // throwaway application, and its file watcher would never fire under the real one.
    *wayland = waylandToplevelsOffered();
    if (!*wayland && !x11DisplayReachable(qgetenv("DISPLAY"), &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    *runHere = true;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    bool runHere = false;
    bool wayland = false;
    if (const int code = preflight(argc, argv, &runHere, &wayland); !runHere)
        return code;

    QApplication app(argc, argv);
    describe(app);
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kAppIdentifier));
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(Artwork::applicationIcon());

    SingleInstance instance;
    switch (instance.listen()) {
    case SingleInstance::ListenResult::OtherInstance:
        return 0;
    case SingleInstance::ListenResult::Unresponsive:
        std::fprintf(stderr,
                     "Idlewatch is already running but does not answer on %s (stopped or "
                     "hung?); not starting a second copy.\n",
                     qPrintable(SingleInstance::socketName()));
        return 1;
    case SingleInstance::ListenResult::Failed:
        std::fprintf(stderr,
                     "Idlewatch: cannot listen on %s; a second launch cannot reach this "
                     "one.\n",
                     qPrintable(SingleInstance::socketName()));
        break;
    case SingleInstance::ListenResult::Listening:
        break;
    }

    QString error;
    std::unique_ptr<Workspace> workspace = connectWorkspace(wayland, &error);
    if (!workspace) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    IdlewatchApp idlewatch(UserDefaults::standard());
    setSharedWorkspace(workspace.get());
    idlewatch.start(runningAppsManager());
    QObject::connect(&instance, &SingleInstance::showRequested, &idlewatch,
                     &IdlewatchApp::showPopover);
    QObject::connect(&idlewatch, &IdlewatchApp::quitRequested, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    return QApplication::exec();
}

#include "ClosingNotices.h"
#include "DesktopNotifier.h"
#include "IdlewatchApp.h"
#include "SingleInstance.h"

#include "BuildInfo.h"
#include "PlatformSeams.h"
#include "StatusReport.h"

#include "LaunchAtLogin/LaunchAtLogin.h"
#include "engine/Clock.h"
#include "engine/RunningAppsManager.h"
#include "platform/gnome/GnomeWorkspace.h"
#include "platform/linux/DesktopEntryIndex.h"
#include "platform/x11/SessionCheck.h"
#include "platform/x11/X11UserPresence.h"
#include "platform/x11/X11Workspace.h"
#include "popover/ClosedToday.h"
#ifdef IDLEWATCH_HAVE_WAYLAND
#include "platform/kde/KdeWorkspace.h"
#include "platform/wayland/WaylandUserPresence.h"
#include "platform/wayland/WaylandWorkspace.h"
#endif
#include "preferences/AppIdentity.h"
#include "preferences/Preferences.h"
#include "preferences/UserDefaults.h"
#include "settings/SettingsWindowController.h"
#include "ui/Artwork.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDBusConnection>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTimer>

#include <cstdio>
#include <malloc.h>
#include <memory>

namespace {

Q_LOGGING_CATEGORY(lcMain, "com.Idlewatch.Idlewatch.main", QtInfoMsg)

// Marks a start by the desktop's autostart; the launch-at-login module reads it.
const char kLaunchedAtLogin[] = "launched-at-login";

void describe(QCoreApplication& app) {
    app.setApplicationName(QString::fromLatin1(kAppDisplayName));
    app.setApplicationVersion(QString::fromLatin1(kAppVersion));
}

// What the command line asks of this launch.
struct Launch {
    bool runHere = false;
    bool showPopover = false;
    bool openSettings = false;
    bool wayland = false; // the compositor lists other applications' windows (wlroots')
    bool kwin = false;    // KWin does
    bool gnome = false;   // GNOME Shell's Idlewatch extension does
    QString kwinWithheld; // why KWin keeps its list from this copy, and the fix
};

// Whether Idlewatch's GNOME Shell extension is on the session bus; a connection of its own,
// closed again, as the application object does not exist yet.
bool gnomeExtensionRunning() {
    const QString name = QStringLiteral("idlewatch-preflight");
    const bool running =
        GnomeWorkspace::available(QDBusConnection::connectToBus(QDBusConnection::SessionBus, name));
    QDBusConnection::disconnectFromBus(name);
    return running;
}

// Which Wayland window list this session's compositor offers: KWin's or wlroots'. When KWin
// withholds its own, says why and what would fix it.
void findWaylandToplevels(Launch* launch) {
#ifdef IDLEWATCH_HAVE_WAYLAND
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return;
    launch->kwin = KdeWorkspace::available({}, &launch->kwinWithheld);
    launch->wayland = !launch->kwin && WaylandWorkspace::available({});
#else
    Q_UNUSED(launch);
#endif
}

// The compositor's own window list where it offers one; otherwise X11, which under Wayland
// sees only XWayland clients.
std::unique_ptr<Workspace> connectWorkspace(const Launch& launch, const QString& advice,
                                            DesktopEntryIndex& entries, QString* error) {
    // GNOME Shell's extension where it runs; one that refuses this program says why.
    if (launch.gnome) {
        if (auto workspace = GnomeWorkspace::connect(QDBusConnection::sessionBus(), error, entries))
            return workspace;
        std::fprintf(stderr, "%s\n", qPrintable(*error));
    }
#ifdef IDLEWATCH_HAVE_WAYLAND
    if (launch.kwin)
        if (auto workspace = KdeWorkspace::connect({}, error, entries))
            return workspace;
    if (launch.wayland)
        if (auto workspace = WaylandWorkspace::connect({}, error, entries))
            return workspace;
#else
    Q_UNUSED(launch);
#endif
    if (!advice.isEmpty())
        std::fprintf(stderr, "Idlewatch: %s\n", qPrintable(advice));
    else if (const QString warning = waylandSessionWarning(); !warning.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(warning));
    return X11Workspace::connect(qgetenv("DISPLAY"), error, entries);
}

// The desktop's idle counter, for "Only quit while I'm away". Under Wayland only the
// compositor's counts: XWayland's sees no input to native windows.
std::unique_ptr<UserPresence> connectPresence() {
    std::unique_ptr<UserPresence> presence;
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
#ifdef IDLEWATCH_HAVE_WAYLAND
        presence = WaylandUserPresence::connect({});
#endif
        if (!presence)
            presence = GnomeUserPresence::connect(QDBusConnection::sessionBus());
    } else {
        presence = X11UserPresence::connect(qgetenv("DISPLAY"));
    }
    if (!presence)
        qCInfo(lcMain, "This desktop offers no idle time (MIT-SCREEN-SAVER, ext-idle-notify-v1 "
                       "or org_kde_kwin_idle): applications are asked to quit when due, even "
                       "while you type.");
    return presence;
}

// Nothing else may start before this answers: a second launch only passes its request to
// the running instance, and without a window list to watch there is nothing to do.
int preflight(int argc, char** argv, Launch* launch) {
    QCoreApplication probe(argc, argv);
    describe(probe);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Quits the desktop applications you have stopped using."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(QCommandLineOption(QString::fromLatin1(kLaunchedAtLogin),
                                        QStringLiteral("Started by the desktop at login.")));
    const QCommandLineOption status(
        QStringLiteral("status"),
        QStringLiteral("Print the running instance's applications, with the seconds each has "
                       "left, its toggles and exclusions as one line of JSON, and exit."));
    const QCommandLineOption show(QStringLiteral("show"),
                                  QStringLiteral("Open the popover (the default for a second "
                                                 "launch)."));
    const QCommandLineOption settings(QStringLiteral("settings"),
                                      QStringLiteral("Open the settings window."));
    parser.addOptions({status, show, settings});
    parser.process(probe); // exits for --help, --version and unknown options

    const SingleInstance running;
    if (parser.isSet(status)) {
        const std::optional<QByteArray> answer = running.ask("status");
        if (!answer || !answer->startsWith('{')) {
            std::fprintf(stderr, "Idlewatch is not running on this display.\n");
            return 1;
        }
        std::printf("%s\n", answer->constData());
        return 0;
    }
    const QByteArray request = parser.isSet(settings) ? "settings" : "show";
    if (running.ask(request) == "ok")
        return 0;
    launch->showPopover = parser.isSet(show);
    launch->openSettings = parser.isSet(settings);

    QString error;
    // Bare connections: a workspace here would create the desktop-entry index under this
    // throwaway application, and its file watcher would never fire under the real one.
    findWaylandToplevels(launch);
    launch->gnome = !launch->wayland && !launch->kwin && gnomeExtensionRunning();
    if (!launch->wayland && !launch->kwin && !launch->gnome &&
        !x11DisplayReachable(qgetenv("DISPLAY"), &error)) {
        if (!launch->kwinWithheld.isEmpty())
            std::fprintf(stderr, "%s\n", qPrintable(launch->kwinWithheld));
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    launch->runHere = true;
    return 0;
}

} // namespace

// The composition root: every long-lived object is created here, in the order each needs
// the others, and handed what it uses. They end in the reverse order.
int main(int argc, char** argv) {
    Launch launch;
    if (const int code = preflight(argc, argv, &launch); !launch.runHere)
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

    // No settings file yet: Idlewatch has never run for this user.
    const bool firstRun = !QFileInfo::exists(UserDefaults::standardFilePath());
    UserDefaults store(UserDefaults::standardFilePath());
    // Once, before anything reads the idle time.
    Preferences::migrateIdleTimePreferenceIfNeeded(store);
    SystemClock clock;
    DesktopEntryIndex desktopEntries;
    QString error;
    // KWin withholding its list, or GNOME under Wayland without the extension: said on
    // stderr and in the popover.
    const QString advice =
        !launch.kwinWithheld.isEmpty()
            ? launch.kwinWithheld
            : GnomeWorkspace::setupAdvice(QProcessEnvironment::systemEnvironment(), launch.gnome);
    std::unique_ptr<Workspace> workspace = connectWorkspace(launch, advice, desktopEntries, &error);
    if (!workspace) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const std::unique_ptr<UserPresence> presence = connectPresence();
    SoundServerActivity audio;
    ProcMemoryUsage memory;
    RunningAppsManager engine(*workspace, store, clock, presence.get());
    engine.setAudioActivity(&audio);
    engine.setMemoryUsage(&memory);
    LaunchAtLogin::Observable launchAtLogin;
    SettingsWindowController settings(engine, launchAtLogin);

    ClosedToday closedToday;

    IdlewatchApp idlewatch(store);
    idlewatch.setClosedToday(closedToday);
    idlewatch.start(engine, settings);
    idlewatch.setSetupNotice(advice);
    instance.setStatusProvider(
        [&engine, &settings] { return StatusReport::json(engine, settings); });
    QObject::connect(&instance, &SingleInstance::showRequested, &idlewatch,
                     &IdlewatchApp::showPopover);
    QObject::connect(&instance, &SingleInstance::settingsRequested, &idlewatch,
                     &IdlewatchApp::openSettings);
    QObject::connect(&idlewatch, &IdlewatchApp::quitRequested, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    // Start-up reads and renders a lot that it then frees (the icon theme's index, desktop
    // entries): hand those pages back rather than keep them resident all day.
    QTimer::singleShot(2000, &idlewatch, [] { malloc_trim(0); });
    DesktopNotifier notifier;
    ClosingNotices closingNotices(engine, notifier, closedToday);
    // A moment in, when a panel and a notification server that start with the session
    // have come up.
    if (firstRun)
        QTimer::singleShot(2000, &idlewatch,
                           [&idlewatch, &notifier] { idlewatch.greet(notifier); });
    if (launch.openSettings)
        QTimer::singleShot(0, &idlewatch, &IdlewatchApp::openSettings);
    else if (launch.showPopover)
        QTimer::singleShot(0, &idlewatch, &IdlewatchApp::showPopover);
    return QApplication::exec();
}

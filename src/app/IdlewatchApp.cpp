#include "IdlewatchApp.h"

#include "DesktopNotifier.h"
#include "PopoverWindow.h"

#include "engine/RunningAppsManager.h"
#include "popover/ContentView.h"
#include "preferences/AppIdentity.h"
#include "preferences/Preferences.h"
#include "settings/SettingsStyle.h"
#include "settings/SettingsWindowController.h"
#include "ui/Style.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QIconEngine>
#include <QLoggingCategory>
#include <QMenu>
#include <QPainter>
#include <QPalette>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

Q_LOGGING_CATEGORY(lcApp, "com.Idlewatch.Idlewatch.main", QtInfoMsg)

namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kPortal = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kPortalSettings = QStringLiteral("org.freedesktop.portal.Settings");
const QString kAppearance = QStringLiteral("org.freedesktop.appearance");
const QString kColorScheme = QStringLiteral("color-scheme");

// What Qt asks the watcher before it chooses StatusNotifierItem.
bool statusNotifierHostRegistered() {
    QDBusMessage get = QDBusMessage::createMethodCall(
        kWatcher, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << kWatcher << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusReply<QDBusVariant> reply =
        QDBusConnection::sessionBus().call(get, QDBus::Block, 2000);
    return reply.isValid() && reply.value().variant().toBool();
}

// The portal's colour-scheme: 1 prefers dark, 2 prefers light, 0 states nothing.
std::optional<bool> prefersDark(QVariant value) {
    while (value.userType() == qMetaTypeId<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    const uint scheme = value.toUInt();
    return scheme == 1 || scheme == 2 ? std::optional<bool>(scheme == 1) : std::nullopt;
}

xcb_connection_t* x11Connection() {
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t internAtom(xcb_connection_t* c, const QByteArray& name) {
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> r(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(name.size()), name.constData()),
                              nullptr),
        &std::free);
    return r ? r->atom : XCB_NONE;
}

// The XEmbed tray's window on this screen, or none.
xcb_window_t trayOwner(xcb_connection_t* c, xcb_atom_t selection) {
    std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> r(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr),
        &std::free);
    return r ? r->owner : XCB_NONE;
}

// The foreground colour an XEmbed tray publishes for its icons (GTK trays do), or none.
QColor trayTextColor(xcb_connection_t* c, xcb_window_t tray) {
    const xcb_atom_t colors = internAtom(c, "_NET_SYSTEM_TRAY_COLORS");
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> r(
        xcb_get_property_reply(c, xcb_get_property(c, 0, tray, colors, XCB_ATOM_CARDINAL, 0, 3),
                               nullptr),
        &std::free);
    if (!r || r->format != 32 || xcb_get_property_value_length(r.get()) < 12)
        return {};
    const auto* rgb = static_cast<const uint32_t*>(xcb_get_property_value(r.get()));
    return QColor::fromRgba64(quint16(rgb[0]), quint16(rgb[1]), quint16(rgb[2]));
}

// Our own pixels under the installed symbolic icon's name: StatusNotifier hosts that
// recolour symbolic icons to their panel use the name, the others the pixels. Never scaled
// up, like a pixmap icon.
class NamedPixmapEngine : public QIconEngine {
public:
    NamedPixmapEngine(const QPixmap& pixmap, const QString& name)
        : m_pixmap(pixmap)
        , m_name(name) {}
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
        painter->drawPixmap(rect, m_pixmap);
    }
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        return m_pixmap.size().boundedTo(size);
    }
    QPixmap pixmap(const QSize&, QIcon::Mode, QIcon::State) override { return m_pixmap; }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override { return {m_pixmap.size()}; }
    QString iconName() override { return m_name; }
    QIconEngine* clone() const override { return new NamedPixmapEngine(*this); }

private:
    QPixmap m_pixmap;
    QString m_name;
};

} // namespace

IdlewatchApp::IdlewatchApp(UserDefaults& defaults, QObject* parent)
    : QObject(parent)
    , menuBarIconSize(defaults, Keys::menuBarIconSize)
    , menuBarIconTemplate(defaults, Keys::menuBarIconTemplate)
    , m_defaults(&defaults) {}

IdlewatchApp::~IdlewatchApp() {
    if (qApp)
        qApp->removeNativeEventFilter(this);
    delete m_tray;
    delete m_menu;
    delete m_popover;
}

ContentView* IdlewatchApp::contentView() const {
    return m_popover ? m_popover->content() : nullptr;
}

void IdlewatchApp::start(RunningAppsManager& manager, SettingsWindowController& settings) {
    m_manager = &manager;
    m_settings = &settings;
    buildMenu();
    connect(m_defaults, &UserDefaults::changed, this, [this](const QString& key) {
        if (key == menuBarIconSize.name() || key == menuBarIconTemplate.name() ||
            key == QLatin1String(Keys::quittingEnabled.name))
            updateIcon();
    });
    qApp->installEventFilter(this);

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        auto* watcher =
            new QDBusServiceWatcher(kWatcher, bus, QDBusServiceWatcher::WatchForRegistration, this);
        connect(watcher, &QDBusServiceWatcher::serviceRegistered, this,
                &IdlewatchApp::findTrayHost);
        // A watcher may come up before the panel that hosts the icons registers with it.
        bus.connect(kWatcher, kWatcherPath, kWatcher,
                    QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(findTrayHost()));
        bus.connect(kPortal, kPortalPath, kPortalSettings, QStringLiteral("SettingChanged"), this,
                    SLOT(appearanceSettingChanged(QString, QString, QDBusVariant)));
        QDBusMessage read =
            QDBusMessage::createMethodCall(kPortal, kPortalPath, kPortalSettings, "Read");
        read << kAppearance << kColorScheme;
        auto* pending = new QDBusPendingCallWatcher(bus.asyncCall(read), this);
        connect(pending, &QDBusPendingCallWatcher::finished, this,
                [this](QDBusPendingCallWatcher* w) {
                    const QDBusPendingReply<QDBusVariant> reply = *w;
                    if (reply.isValid())
                        appearanceSettingChanged(kAppearance, kColorScheme, reply.value());
                    w->deleteLater();
                });
    }
    if (xcb_connection_t* c = x11Connection()) {
        // Trays announce themselves with a MANAGER message on the root window, which Qt
        // already listens to.
        const QByteArray display = qgetenv("DISPLAY");
        const qsizetype dot = display.lastIndexOf('.');
        const QByteArray screen = dot > display.lastIndexOf(':') ? display.mid(dot + 1) : "0";
        m_traySelection = internAtom(c, "_NET_SYSTEM_TRAY_S" + screen);
        m_managerAtom = internAtom(c, "MANAGER");
        qApp->installNativeEventFilter(this);
    }
    updateIcon();
    findTrayHost();
    if (!m_tray)
        qCInfo(lcApp).noquote() << (m_traySelection
                                        ? "No system tray yet; the icon appears when a tray starts."
                                        : "No StatusNotifier tray yet; the icon appears when one "
                                          "starts.")
                                << "Launching Idlewatch again opens its popover.";
}

void IdlewatchApp::buildMenu() {
    m_menu = new QMenu;
    // The desktop style draws an unchecked box in a dark menu that hardly stands out; the
    // settings window's controls draw one that reads.
    m_menu->setStyle(SettingsStyle::controlStyle());
    m_menu->addAction(QStringLiteral("Open Idlewatch"), this, &IdlewatchApp::showPopover);
    m_menu->addAction(QStringLiteral("Settings…"), this, &IdlewatchApp::openSettings);
    m_menu->addSeparator();
    const Preference<bool> quitting(*m_defaults, Keys::quittingEnabled);
    QAction* pause = m_menu->addAction(QStringLiteral("Pause automatic quitting"));
    pause->setCheckable(true);
    pause->setChecked(!quitting.value());
    connect(pause, &QAction::triggered, this, [quitting](bool paused) { quitting.set(!paused); });
    connect(m_defaults, &UserDefaults::changed, pause, [pause, quitting](const QString& key) {
        if (key == quitting.name())
            pause->setChecked(!quitting.value());
    });
    m_menu->addSeparator();
    m_menu->addAction(QStringLiteral("Quit Idlewatch"), this, &IdlewatchApp::quitRequested);
}

void IdlewatchApp::findTrayHost() {
    if (m_tray)
        return; // Qt follows a restarted watcher or tray by itself
    const bool statusNotifier =
        QDBusConnection::sessionBus().isConnected() && statusNotifierHostRegistered();
    xcb_connection_t* c = x11Connection();
    const xcb_window_t xembed = c && m_traySelection ? trayOwner(c, m_traySelection) : XCB_NONE;
    if (!statusNotifier && xembed == XCB_NONE)
        return;
    m_xembed = !statusNotifier;
    if (m_xembed)
        m_trayTextColor = trayTextColor(c, xembed);
    qCInfo(lcApp) << "Tray host:" << (statusNotifier ? "StatusNotifierItem" : "XEmbed");
    m_tray = new QSystemTrayIcon(this);
    m_tray->setContextMenu(m_menu);
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    togglePopover();
            });
    updateIcon();
    m_tray->show();
    if (m_xembed && !m_trayTextColor.isValid())
        QTimer::singleShot(250, this, [this] { sampleTrayBackground(20); });
}

void IdlewatchApp::sampleTrayBackground(int triesLeft) {
    const QRect icon = m_tray ? m_tray->geometry() : QRect();
    QScreen* screen = QGuiApplication::screenAt(icon.center());
    if (icon.isEmpty() || !screen) {
        if (triesLeft > 0)
            QTimer::singleShot(500, this,
                               [this, triesLeft] { sampleTrayBackground(triesLeft - 1); });
        return;
    }
    // The corners of the icon's square: the panel, since the glyph never reaches them.
    const QRect at = icon.translated(-screen->geometry().topLeft());
    const QImage shot = screen->grabWindow(0, at.x(), at.y(), at.width(), at.height()).toImage();
    if (shot.isNull())
        return;
    int r = 0, g = 0, b = 0;
    const int w = shot.width() - 1, h = shot.height() - 1;
    for (const QPoint& p : {QPoint(0, 0), QPoint(w, 0), QPoint(0, h), QPoint(w, h)}) {
        const QColor c = shot.pixelColor(p);
        r += c.red(), g += c.green(), b += c.blue();
    }
    const QColor background(r / 4, g / 4, b / 4);
    qCDebug(lcApp) << "Tray background" << background.name();
    if (background != m_trayBackground) {
        m_trayBackground = background;
        updateIcon();
    }
}

void IdlewatchApp::appearanceSettingChanged(const QString& group, const QString& key,
                                            const QDBusVariant& value) {
    if (group != kAppearance || key != kColorScheme)
        return;
    m_prefersDark = prefersDark(value.variant());
    updateIcon();
}

bool IdlewatchApp::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (m_tray || eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
        const auto* client = static_cast<const xcb_client_message_event_t*>(message);
        if (client->type == m_managerAtom && client->data.data32[1] == m_traySelection)
            QMetaObject::invokeMethod(this, &IdlewatchApp::findTrayHost, Qt::QueuedConnection);
    }
    return false;
}

Artwork::TrayStyle IdlewatchApp::trayStyle() const {
    Artwork::TrayStyle style;
    style.monochrome = menuBarIconTemplate.value();
    style.paused = !Preference<bool>(*m_defaults, Keys::quittingEnabled).value();
    if (m_trayTextColor.isValid()) {
        style.glyph = m_trayTextColor;
    } else if (m_trayBackground.isValid()) {
        style.glyph = Style::contrast(Qt::black, m_trayBackground) >=
                              Style::contrast(Qt::white, m_trayBackground)
                          ? Qt::black
                          : Qt::white;
    } else {
        // The palette's text colour is only a guess at the panel's: a rim of the opposite
        // tone keeps the glyph legible on a panel of either.
        QColor text = QApplication::palette().color(QPalette::WindowText);
        if (m_prefersDark && (text.lightness() >= 128) != *m_prefersDark)
            text = *m_prefersDark ? QColor(Qt::white) : QColor(Qt::black);
        style.glyph = text;
        style.outline = text.lightness() < 128 ? QColor(Qt::white) : QColor(Qt::black);
    }
    return style;
}

void IdlewatchApp::updateIcon() {
    const int edge = Artwork::clampedTrayIconSize(menuBarIconSize.value());
    const qreal dpr = qApp ? qApp->devicePixelRatio() : 1.0;
    const Artwork::TrayStyle style = trayStyle();
    const bool paused = style.paused;
    // One pixmap of exactly edge x edge: icons are never scaled up, so the tray shows the
    // configured size, centred in its slot.
    const QPixmap pixmap = QPixmap::fromImage(Artwork::trayIcon(edge, style, dpr));
    const QString symbolic =
        QString::fromLatin1(kAppIdentifier) +
        (paused ? QStringLiteral("-paused-symbolic") : QStringLiteral("-symbolic"));
    m_icon = style.monochrome && QIcon::hasThemeIcon(symbolic)
                 ? QIcon(new NamedPixmapEngine(pixmap, symbolic))
                 : QIcon(pixmap);
    if (m_tray) {
        m_tray->setIcon(m_icon);
        m_tray->setToolTip(paused ? QStringLiteral("Idlewatch: paused")
                                  : QStringLiteral("Idlewatch"));
    }
}

void IdlewatchApp::setSetupNotice(const QString& text) {
    m_setupNotice = text;
    if (ContentView* content = contentView())
        content->setSetupNotice(text);
}

PopoverWindow* IdlewatchApp::ensurePopover() {
    if (!m_popover && m_manager) {
        auto* content = new ContentView(*m_manager);
        if (m_closedToday)
            content->setClosedToday(*m_closedToday);
        content->setSetupNotice(m_setupNotice);
        m_popover = new PopoverWindow(content);
        connect(content, &ContentView::quitRequested, this, &IdlewatchApp::quitRequested);
        connect(content, &ContentView::openSettingsRequested, this, &IdlewatchApp::openSettings);
    }
    return m_popover;
}

void IdlewatchApp::showPopover() {
    if (!ensurePopover())
        return;
    m_popover->showAt(m_tray ? m_tray->geometry() : QRect());
}

void IdlewatchApp::openSettings() {
    if (!m_settings)
        return;
    if (m_popover)
        m_popover->close();
    m_settings->openSettings(SettingsPane::general);
    emit settingsRequested();
}

void IdlewatchApp::greet(DesktopNotifier& notifier) {
    const QString timeout = Preferences::formattedIdleTime(
        Preference<qint64>(*m_defaults, Keys::minutesUntilClose).value());
    DesktopNotifier::Notice notice;
    notice.summary = QStringLiteral("Idlewatch is running");
    notice.body = QStringLiteral("It quits the apps you have not used for %1, asking each one "
                                 "first as its close button would. ")
                      .arg(timeout) +
                  (m_tray ? QStringLiteral("Its icon is in the system tray: click it to see "
                                           "every countdown.")
                          : QStringLiteral("This desktop shows no tray icons: start Idlewatch "
                                           "again to see every countdown."));
    notice.actions = {{QStringLiteral("default"), QStringLiteral("Open Idlewatch")},
                      {QStringLiteral("settings"), QStringLiteral("Settings")}};
    notifier.notify(notice, [this, &notifier](std::optional<uint> shown) {
        if (!shown) {
            // Nothing else would tell the user that Idlewatch runs at all.
            if (!m_tray)
                showPopover();
            return;
        }
        connect(&notifier, &DesktopNotifier::actionInvoked, this,
                [this, shown](uint id, const QString& key) {
                    if (id != *shown)
                        return;
                    if (key == QLatin1String("settings"))
                        openSettings();
                    else
                        showPopover();
                });
    });
    Preference<bool>(*m_defaults, Keys::firstRunNoticeShown).set(true);
}

void IdlewatchApp::togglePopover() {
    if (!ensurePopover())
        return;
    if (m_popover->isVisible() || m_popover->justClosed()) {
        m_popover->close();
        return;
    }
    showPopover();
}

bool IdlewatchApp::eventFilter(QObject* watched, QEvent* event) {
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange) {
        updateIcon();
        // A new theme may have recoloured the panel too.
        if (m_xembed && m_trayBackground.isValid())
            QTimer::singleShot(500, this, [this] { sampleTrayBackground(0); });
    }
    return QObject::eventFilter(watched, event);
}

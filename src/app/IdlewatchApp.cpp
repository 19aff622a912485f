#include "IdlewatchApp.h"

#include "PopoverWindow.h"

#include "engine/RunningAppsManager.h"
#include "popover/ContentView.h"
#include "settings/SettingsWindowController.h"
#include "ui/Artwork.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QPalette>
#include <QSystemTrayIcon>

Q_LOGGING_CATEGORY(lcApp, "com.Idlewatch.Idlewatch.main", QtInfoMsg)

IdlewatchApp::IdlewatchApp(UserDefaults& defaults, QObject* parent)
    : QObject(parent)
    , menuBarIconSize(defaults, Keys::menuBarIconSize)
    , menuBarIconTemplate(defaults, Keys::menuBarIconTemplate)
    , m_defaults(&defaults) {}

IdlewatchApp::~IdlewatchApp() {
    delete m_popover;
}

ContentView* IdlewatchApp::contentView() const {
    return m_popover ? m_popover->content() : nullptr;
}

void IdlewatchApp::start(RunningAppsManager& manager, SettingsWindowController& settings) {
    m_settings = &settings;
    auto* content = new ContentView(manager);
    m_popover = new PopoverWindow(content);
    connect(content, &ContentView::quitRequested, this, &IdlewatchApp::quitRequested);
    connect(content, &ContentView::openSettingsRequested, this, &IdlewatchApp::openSettings);

    m_tray = new QSystemTrayIcon(this);
    m_tray->setToolTip(QStringLiteral("Idlewatch"));
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context ||
                    reason == QSystemTrayIcon::DoubleClick)
                    togglePopover();
            });
    connect(m_defaults, &UserDefaults::changed, this, [this](const QString& key) {
        if (key == menuBarIconSize.name() || key == menuBarIconTemplate.name())
            updateIcon();
    });
    qApp->installEventFilter(this);
    updateIcon();
    m_tray->show();
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        qCInfo(lcApp) << "No system tray yet; the icon appears when one starts. Launching "
                         "Idlewatch again opens its popover.";
}

void IdlewatchApp::updateIcon() {
    const int edge = Artwork::clampedMenuBarIconSize(menuBarIconSize.value());
    const qreal dpr = qApp ? qApp->devicePixelRatio() : 1.0;
    const QColor panelText = QApplication::palette().color(QPalette::WindowText);
    // One pixmap of exactly edge x edge: icons are never scaled up, so the tray shows the
    // configured size, centred in its slot.
    m_icon = QIcon(QPixmap::fromImage(
        Artwork::menuBarIcon(edge, menuBarIconTemplate.value(), panelText, dpr)));
    if (m_tray)
        m_tray->setIcon(m_icon);
}

void IdlewatchApp::showPopover() {
    if (!m_popover)
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

void IdlewatchApp::togglePopover() {
    if (!m_popover)
        return;
    if (m_popover->isVisible() || m_popover->justClosed()) {
        m_popover->close();
        return;
    }
    showPopover();
}

bool IdlewatchApp::eventFilter(QObject* watched, QEvent* event) {
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange)
        updateIcon();
    return QObject::eventFilter(watched, event);
}

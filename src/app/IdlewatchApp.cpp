#include "IdlewatchApp.h"

#include "PopoverWindow.h"

#include "engine/RunningAppsManager.h"
#include "popover/ContentView.h"
#include "settings/SettingsView.h"
#include "settings/SettingsWindowController.h"
#include "ui/Artwork.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLoggingCategory>
#include <QPalette>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWindow>

#include <cstdio>

Q_LOGGING_CATEGORY(lcApp, "com.Idlewatch.Idlewatch.main", QtInfoMsg)

IdlewatchApp::IdlewatchApp(UserDefaults& defaults, QObject* parent)
    : QObject(parent)
    , menuBarIconSize(defaults, Keys::menuBarIconSize)
    , menuBarIconTemplate(defaults, Keys::menuBarIconTemplate)
    , m_defaults(&defaults)
    , m_dump(!qEnvironmentVariableIsEmpty("IDLEWATCH_TEST_DUMP")) {}

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

    if (m_dump) {
        connect(content, &ContentView::rendered, this, [this] {
            if (m_popover->isVisible())
                dumpForTests();
        });
        // The tray embeds the icon asynchronously: report where it ends up.
        auto* poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, [this, last = QRect()]() mutable {
            const QRect g = m_tray->geometry();
            if (g != last) {
                last = g;
                std::printf("IDLEWATCH_DUMP tray %d %d %d %d\n", g.x(), g.y(), g.width(),
                            g.height());
                std::fflush(stdout);
            }
            dumpSettingsForTests();
        });
        poll->start(100);
    }
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
    if (m_dump)
        dumpForTests();
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

void IdlewatchApp::dumpForTests() const {
    const ContentView* view = contentView();
    const QRect g = m_popover->frameGeometry();
    std::printf("IDLEWATCH_DUMP popover %d %d %d %d\n", g.x(), g.y(), g.width(), g.height());
    for (const QString& line : view->rowTexts())
        std::printf("IDLEWATCH_DUMP row %s\n", qPrintable(line));
    for (const QWidget* item : {view->settingsItem(), view->quitItem()}) {
        const QRect r(item->mapToGlobal(QPoint(0, 0)), item->size());
        std::printf("IDLEWATCH_DUMP item %s %d %d %d %d\n", qPrintable(item->accessibleName()),
                    r.x(), r.y(), r.width(), r.height());
    }
    std::printf("IDLEWATCH_DUMP end\n");
    std::fflush(stdout);
}

void IdlewatchApp::dumpSettingsForTests() {
    const SettingsWindowController* controller = m_settings;
    // Before it is exposed the window manager has not placed the window yet; afterwards it
    // may still move it: print again whenever the sidebar moves or the selection changes.
    const QWidget* window = controller ? controller->window() : nullptr;
    if (!window || !window->isVisible() || !window->windowHandle() ||
        !window->windowHandle()->isExposed()) {
        m_lastSettingsDump.clear();
        return;
    }
    const SettingsView* view = controller->view();
    const auto rect = [](const QRect& r) {
        return QStringLiteral("%1 %2 %3 %4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
    };
    QString dump = QStringLiteral("IDLEWATCH_DUMP settings ") + rect(window->frameGeometry()) +
                   QLatin1Char('\n');
    for (const SettingsPane pane : SettingsPanes::all()) {
        const QAbstractButton* row = view->sidebarButton(pane);
        dump += QStringLiteral("IDLEWATCH_DUMP pane ") + SettingsPanes::rawValue(pane) +
                QLatin1Char(' ') + rect(QRect(row->mapToGlobal(QPoint(0, 0)), row->size())) +
                QLatin1Char('\n');
    }
    dump += QStringLiteral("IDLEWATCH_DUMP selected ") +
            SettingsPanes::rawValue(view->selectedPane()) + QLatin1Char('\n');
    if (dump == m_lastSettingsDump)
        return;
    m_lastSettingsDump = dump;
    std::fputs(dump.toUtf8().constData(), stdout);
    std::fflush(stdout);
}

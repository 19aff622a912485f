#include "SettingsWindowController.h"

#include "SettingsView.h"

#include "engine/RunningAppsManager.h"
#include "ui/Artwork.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

SettingsWindowController::SettingsWindowController(RunningAppsManager& manager,
                                                   LaunchAtLogin::Observable& launchAtLogin,
                                                   QObject* parent)
    : QObject(parent)
    , m_manager(manager)
    , m_launchAtLogin(launchAtLogin) {}

SettingsWindowController::~SettingsWindowController() = default;

void SettingsWindowController::openSettings(SettingsPane initialPane) {
    if (!m_window) {
        m_window = std::make_unique<QWidget>();
        m_window->setWindowTitle(QStringLiteral("Idlewatch Settings"));
        m_window->setWindowIcon(Artwork::applicationIcon());
        auto* layout = new QVBoxLayout(m_window.get());
        layout->setContentsMargins(0, 0, 0, 0);
        m_view = new SettingsView(m_manager, m_launchAtLogin, initialPane);
        layout->addWidget(m_view);
        // Within the screen's free area, with room for the window manager's title bar and
        // borders, which the window cannot know before it is shown.
        const QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
        const QSize room =
            (screen ? screen : QGuiApplication::primaryScreen())->availableGeometry().size() -
            QSize(kDecorations, kDecorations);
        m_window->setMinimumSize(kMinimumSize.boundedTo(room));
        m_window->resize(kContentSize.boundedTo(room));
        for (const QKeySequence& close :
             {QKeySequence(Qt::Key_Escape), QKeySequence(QKeySequence::Close),
              QKeySequence(Qt::CTRL | Qt::Key_W)})
            connect(new QShortcut(close, m_window.get()), &QShortcut::activated, m_window.get(),
                    &QWidget::close);
    }
    showWindow();
}

void SettingsWindowController::showWindow() {
    if (!m_window)
        return;
    m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    // A window manager guarding against focus stealing may refuse the toolkit's request.
    m_manager.workspace().activateOwnWindow(m_window->windowHandle());
}

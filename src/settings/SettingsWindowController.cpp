#include "SettingsWindowController.h"

#include "SettingsView.h"

#include "engine/RunningAppsManager.h"
#include "ui/Artwork.h"

#include <QCoreApplication>
#include <QVBoxLayout>

namespace {
SettingsWindowController*& currentSlot() {
    static SettingsWindowController* controller = nullptr;
    return controller;
}

// Runs while the application object is torn down, before the widgets' platform is gone.
void destroyCurrentAtExit() {
    SettingsWindowController::resetCurrent();
}
} // namespace

SettingsWindowController::SettingsWindowController(SettingsView* rootView)
    : m_window(new QWidget)
    , m_view(rootView) {
    m_window->setWindowTitle(QStringLiteral("Idlewatch Settings"));
    m_window->setWindowIcon(Artwork::applicationIcon());
    auto* layout = new QVBoxLayout(m_window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(rootView);
    m_window->resize(kContentSize);
    m_window->setMinimumSize(kMinimumSize);

    static bool cleanupRegistered = false;
    if (!cleanupRegistered) {
        qAddPostRoutine(destroyCurrentAtExit);
        cleanupRegistered = true;
    }
    delete currentSlot();
    currentSlot() = this;
}

SettingsWindowController::~SettingsWindowController() {
    if (currentSlot() == this)
        currentSlot() = nullptr;
    delete m_window;
}

SettingsWindowController* SettingsWindowController::current() {
    return currentSlot();
}

void SettingsWindowController::resetCurrent() {
    delete currentSlot();
}

void SettingsWindowController::openSettings(RunningAppsManager& manager, SettingsPane initialPane) {
    if (SettingsWindowController* existing = current()) {
        existing->showWindow();
        return;
    }
    auto* controller = new SettingsWindowController(new SettingsView(manager, initialPane));
    controller->showWindow();
}

void SettingsWindowController::showWindow() {
    m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    // A window manager guarding against focus stealing may refuse the toolkit's request.
    m_view->manager().workspace().activateOwnWindow(m_window->windowHandle());
}

#pragma once

#include <QHashFunctions>
#include <QList>
#include <QMetaType>
#include <QString>

#include <compare>
#include <memory>
#include <optional>

// Identity of one running process: a relaunched application, or a new process that
// reuses the PID, is a different application. `domain` separates processes that share
// a PID but not a machine (0 for local processes).
struct ProcessKey {
    qint64 pid = 0;
    quint64 startTime = 0;
    quint64 domain = 0;

    friend bool operator==(const ProcessKey&, const ProcessKey&) = default;
    friend auto operator<=>(const ProcessKey&, const ProcessKey&) = default;
};

inline size_t qHash(const ProcessKey& key, size_t seed = 0) noexcept {
    return qHashMulti(seed, key.pid, key.startTime, key.domain);
}

enum class AppRole {
    Regular = 0,     // an ordinary application with a taskbar entry
    Auxiliary = 1,   // only utility or dialog windows, or kept off the taskbar
    DesktopPart = 2, // docks, desktops, background processes
};

// The handle of one running application: cheap to copy, equal per process (ProcessKey),
// usable as a map key. A default-constructed handle is null and names no application.
// The platform backend supplies the behaviour through Backend.
class RunningApplication {
public:
    class Backend {
    public:
        virtual ~Backend() = default;
        virtual ProcessKey key() const = 0;
        virtual std::optional<QString> applicationId() const = 0;
        virtual std::optional<QString> displayName() const = 0;
        // Location of the application's entry (on Linux its .desktop file), if any.
        virtual std::optional<QString> entryPath() const = 0;
        virtual bool isHidden() const = 0;
        virtual AppRole role() const = 0;
        virtual bool hasStarted() const = 0;
        // Polite quit request; true when it was delivered.
        virtual bool requestQuit() = 0;
        // Forced quit; true when it was delivered.
        virtual bool forceQuit() = 0;
        // Whether a polite request could be delivered now (its main windows accept one).
        virtual bool acceptsPoliteQuit() const { return true; }
        // Whether this platform can force the application to quit at all.
        virtual bool canForceQuit() const { return true; }
        // It shows a window that asks its user something: a dialog, a window transient for
        // another one, or a modal window. Its main windows are not asked meanwhile.
        virtual bool isAskingUser() const { return false; }
        // It shows a modal window: whatever it asks, it is not asked to quit meanwhile.
        virtual bool hasModalWindow() const { return false; }
        // Its front window covers the screen (a film, a presentation): a user watching it
        // counts as present.
        virtual bool isFullscreen() const { return false; }
        // A job runs on one of its terminals (anything but an idle shell): it is not asked.
        virtual bool isBusy() const { return false; }
        // The local processes it consists of; empty when the platform does not say.
        virtual QList<qint64> processIds() const { return {}; }
        // The title of its main window, to tell two copies of one application apart.
        virtual QString windowTitle() const { return {}; }
        // The program it runs, where the platform can tell.
        virtual std::optional<QString> executablePath() const { return std::nullopt; }
    };

    RunningApplication() = default;
    explicit RunningApplication(std::shared_ptr<Backend> backend)
        : m_backend(std::move(backend))
        , m_key(m_backend ? m_backend->key() : ProcessKey{}) {}

    bool isNull() const { return !m_backend; }
    ProcessKey key() const { return m_key; }

    std::optional<QString> applicationId() const {
        return m_backend ? m_backend->applicationId() : std::nullopt;
    }
    std::optional<QString> displayName() const {
        return m_backend ? m_backend->displayName() : std::nullopt;
    }
    std::optional<QString> entryPath() const {
        return m_backend ? m_backend->entryPath() : std::nullopt;
    }
    bool isHidden() const { return m_backend && m_backend->isHidden(); }
    AppRole role() const { return m_backend ? m_backend->role() : AppRole::DesktopPart; }
    bool hasStarted() const { return m_backend && m_backend->hasStarted(); }
    bool requestQuit() const { return m_backend && m_backend->requestQuit(); }
    bool forceQuit() const { return m_backend && m_backend->forceQuit(); }
    bool acceptsPoliteQuit() const { return m_backend && m_backend->acceptsPoliteQuit(); }
    bool canForceQuit() const { return m_backend && m_backend->canForceQuit(); }
    bool isAskingUser() const { return m_backend && m_backend->isAskingUser(); }
    bool hasModalWindow() const { return m_backend && m_backend->hasModalWindow(); }
    bool isFullscreen() const { return m_backend && m_backend->isFullscreen(); }
    bool isBusy() const { return m_backend && m_backend->isBusy(); }
    QList<qint64> processIds() const {
        return m_backend ? m_backend->processIds() : QList<qint64>();
    }
    QString windowTitle() const { return m_backend ? m_backend->windowTitle() : QString(); }
    std::optional<QString> executablePath() const {
        return m_backend ? m_backend->executablePath() : std::nullopt;
    }

    Backend* backend() const { return m_backend.get(); }

    friend bool operator==(const RunningApplication& a, const RunningApplication& b) {
        return a.isNull() == b.isNull() && a.m_key == b.m_key;
    }
    friend bool operator<(const RunningApplication& a, const RunningApplication& b) {
        return a.m_key < b.m_key;
    }

private:
    std::shared_ptr<Backend> m_backend;
    ProcessKey m_key;
};

inline size_t qHash(const RunningApplication& app, size_t seed = 0) noexcept {
    return qHash(app.key(), seed);
}

Q_DECLARE_METATYPE(RunningApplication)

#pragma once

#include <QHashFunctions>
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

enum class ActivationPolicy {
    Regular = 0,    // an ordinary application with a taskbar entry
    Accessory = 1,  // only utility or dialog windows, or kept off the taskbar
    Prohibited = 2, // docks, desktops, background processes
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
        virtual ActivationPolicy activationPolicy() const = 0;
        virtual bool isFinishedLaunching() const = 0;
        // Polite quit request; true when it was delivered.
        virtual bool terminate() = 0;
        // Forced quit; true when it was delivered.
        virtual bool forceTerminate() = 0;
        // Whether a polite request could be delivered now (its main windows accept one).
        virtual bool acceptsPoliteQuit() const { return true; }
        // Whether this platform can force the application to quit at all.
        virtual bool canForceQuit() const { return true; }
        // It shows a window that asks its user something: a dialog, a window transient for
        // another one, or a modal window. Its main windows are not asked meanwhile.
        virtual bool isAskingUser() const { return false; }
        // It shows a modal window: whatever it asks, it is not asked to quit meanwhile.
        virtual bool hasModalWindow() const { return false; }
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
    ActivationPolicy activationPolicy() const {
        return m_backend ? m_backend->activationPolicy() : ActivationPolicy::Prohibited;
    }
    bool isFinishedLaunching() const { return m_backend && m_backend->isFinishedLaunching(); }
    bool terminate() const { return m_backend && m_backend->terminate(); }
    bool forceTerminate() const { return m_backend && m_backend->forceTerminate(); }
    bool acceptsPoliteQuit() const { return m_backend && m_backend->acceptsPoliteQuit(); }
    bool canForceQuit() const { return m_backend && m_backend->canForceQuit(); }
    bool isAskingUser() const { return m_backend && m_backend->isAskingUser(); }
    bool hasModalWindow() const { return m_backend && m_backend->hasModalWindow(); }

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

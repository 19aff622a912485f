#include "FakeWorkspace.h"

#include "preferences/AppIdentity.h"

// Shared by the workspace and every handle it gave out, so a handle kept by the engine
// stays valid whatever outlives what.
struct FakeWorkspace::State {
    struct Entry {
        FakeApp app;
        bool running = true;
        bool terminateDelivered = true;
        bool forceTerminateDelivered = true;
        bool terminateEndsApp = true;
    };

    QHash<ProcessKey, Entry> entries;
    QList<RunningApplication> order; // running applications, in list order
    RunningApplication frontmost;
    QList<Request> requests;
    std::optional<QString> ownIdentifier = QString::fromLatin1(kAppIdentifier);
    bool ownWindowFocused = false;
    QString extension = QStringLiteral("desktop");
    QHash<QString, ApplicationEntry> entryFiles;
    QHash<QString, QString> iconNames;
    qint64 nextPid = 1000;
    mutable int listings = 0;

    Entry& entry(const ProcessKey& key) { return entries[key]; }

    void end(const ProcessKey& key) {
        entries[key].running = false;
        order.removeIf([&](const RunningApplication& app) { return app.key() == key; });
        if (frontmost.key() == key)
            frontmost = {};
    }
};

namespace {

class FakeBackend final : public RunningApplication::Backend {
public:
    FakeBackend(std::shared_ptr<FakeWorkspace::State> state, ProcessKey key)
        : m_state(std::move(state))
        , m_key(key) {}

    ProcessKey key() const override { return m_key; }
    std::optional<QString> applicationId() const override { return app().applicationId; }
    std::optional<QString> displayName() const override { return app().name; }
    std::optional<QString> entryPath() const override { return app().entryPath; }
    bool isHidden() const override { return app().hidden; }
    ActivationPolicy activationPolicy() const override { return app().policy; }
    bool isFinishedLaunching() const override { return app().finishedLaunching; }
    bool acceptsPoliteQuit() const override { return app().acceptsPoliteQuit; }
    bool canForceQuit() const override { return app().canForceQuit; }
    bool isAskingUser() const override { return app().askingUser || app().modal; }
    bool hasModalWindow() const override { return app().modal; }

    bool terminate() override {
        m_state->requests.append({m_key, FakeWorkspace::RequestKind::Terminate});
        auto& entry = m_state->entry(m_key);
        if (!entry.running || !entry.terminateDelivered || !entry.app.acceptsPoliteQuit)
            return false;
        if (entry.terminateEndsApp)
            m_state->end(m_key);
        return true;
    }
    bool forceTerminate() override {
        m_state->requests.append({m_key, FakeWorkspace::RequestKind::ForceTerminate});
        auto& entry = m_state->entry(m_key);
        if (!entry.running || !entry.forceTerminateDelivered)
            return false;
        m_state->end(m_key);
        return true;
    }

private:
    const FakeApp& app() const { return m_state->entries[m_key].app; }

    std::shared_ptr<FakeWorkspace::State> m_state;
    ProcessKey m_key;
};

} // namespace

FakeWorkspace::FakeWorkspace(QObject* parent)
    : Workspace(parent)
    , m_state(std::make_shared<State>()) {}

FakeWorkspace::~FakeWorkspace() {
    // The handles in the list point back at the state: break the cycle, so the state goes
    // with the last handle kept elsewhere.
    m_state->order.clear();
    m_state->frontmost = {};
}

QList<RunningApplication> FakeWorkspace::runningApplications() const {
    ++m_state->listings;
    return m_state->order;
}

RunningApplication FakeWorkspace::frontmostApplication() const {
    return m_state->frontmost;
}

std::optional<QString> FakeWorkspace::ownApplicationId() const {
    return m_state->ownIdentifier;
}

bool FakeWorkspace::ownWindowIsActive() const {
    return m_state->ownWindowFocused;
}

std::optional<ApplicationEntry> FakeWorkspace::entryAt(const QString& path) const {
    const auto it = m_state->entryFiles.constFind(path);
    if (it == m_state->entryFiles.cend())
        return std::nullopt;
    return *it;
}

QString FakeWorkspace::entryFileSuffix() const {
    return m_state->extension;
}

QString FakeWorkspace::iconNameForEntry(const QString& path) const {
    return m_state->iconNames.value(path);
}

void FakeWorkspace::setIconName(const QString& path, const QString& icon) {
    m_state->iconNames.insert(path, icon);
}

RunningApplication FakeWorkspace::add(const FakeApp& app) {
    const ProcessKey key{m_state->nextPid++, quint64(m_state->nextPid) * 7, 0};
    m_state->entries.insert(key, State::Entry{app});
    RunningApplication handle(std::make_shared<FakeBackend>(m_state, key));
    m_state->order.append(handle);
    return handle;
}

RunningApplication FakeWorkspace::relaunch(const RunningApplication& app) {
    const State::Entry old = m_state->entry(app.key());
    const qsizetype position = m_state->order.indexOf(app);
    m_state->end(app.key());
    RunningApplication fresh = add(old.app);
    if (position >= 0) {
        m_state->order.removeLast();
        m_state->order.insert(position, fresh);
    }
    return fresh;
}

void FakeWorkspace::quit(const RunningApplication& app) {
    m_state->end(app.key());
}

bool FakeWorkspace::isRunning(const RunningApplication& app) const {
    const auto it = m_state->entries.constFind(app.key());
    return it != m_state->entries.cend() && it->running;
}

void FakeWorkspace::activate(const RunningApplication& app) {
    const RunningApplication previous = m_state->frontmost;
    m_state->frontmost = app;
    if (!previous.isNull() && !(previous == app))
        emit didDeactivateApplication(previous);
}

void FakeWorkspace::setHidden(const RunningApplication& app, bool hidden) {
    m_state->entry(app.key()).app.hidden = hidden;
}

void FakeWorkspace::setFinishedLaunching(const RunningApplication& app, bool finished) {
    m_state->entry(app.key()).app.finishedLaunching = finished;
}

void FakeWorkspace::setName(const RunningApplication& app, std::optional<QString> name) {
    m_state->entry(app.key()).app.name = std::move(name);
}

void FakeWorkspace::setPolicy(const RunningApplication& app, ActivationPolicy policy) {
    m_state->entry(app.key()).app.policy = policy;
}

void FakeWorkspace::setTerminateDelivered(const RunningApplication& app, bool delivered) {
    m_state->entry(app.key()).terminateDelivered = delivered;
}

void FakeWorkspace::setForceTerminateDelivered(const RunningApplication& app, bool delivered) {
    m_state->entry(app.key()).forceTerminateDelivered = delivered;
}

void FakeWorkspace::setTerminateEndsApp(const RunningApplication& app, bool ends) {
    m_state->entry(app.key()).terminateEndsApp = ends;
}

QList<FakeWorkspace::Request> FakeWorkspace::requests() const {
    return m_state->requests;
}

QList<FakeWorkspace::RequestKind> FakeWorkspace::requestsFor(const RunningApplication& app) const {
    QList<RequestKind> kinds;
    for (const Request& request : std::as_const(m_state->requests)) {
        if (request.key == app.key())
            kinds.append(request.kind);
    }
    return kinds;
}

void FakeWorkspace::clearRequests() {
    m_state->requests.clear();
}

void FakeWorkspace::setOwnApplicationId(std::optional<QString> identifier) {
    m_state->ownIdentifier = std::move(identifier);
}

void FakeWorkspace::setOwnWindowIsActive(bool focused) {
    m_state->ownWindowFocused = focused;
}

void FakeWorkspace::setEntryFileSuffix(const QString& extension) {
    m_state->extension = extension;
}

void FakeWorkspace::addEntry(const QString& path, const ApplicationEntry& info) {
    m_state->entryFiles.insert(path, info);
}

int FakeWorkspace::listingCount() const {
    return m_state->listings;
}

void FakeWorkspace::setAskingUser(const RunningApplication& app, bool asking, bool modal) {
    m_state->entry(app.key()).app.askingUser = asking;
    m_state->entry(app.key()).app.modal = modal;
}

void FakeWorkspace::setAcceptsPoliteQuit(const RunningApplication& app, bool accepts) {
    m_state->entry(app.key()).app.acceptsPoliteQuit = accepts;
}

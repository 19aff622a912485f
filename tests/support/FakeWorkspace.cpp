#include "FakeWorkspace.h"

void FakeWorkspace::State::end(const ProcessKey& key) {
    entries[key].running = false;
    order.removeIf([&](const RunningApplication& app) { return app.key() == key; });
    if (frontmost.key() == key)
        frontmost = {};
}

namespace {

class FakeBackend final : public RunningApplication::Backend {
public:
    FakeBackend(std::shared_ptr<FakeWorkspace::State> state, ProcessKey key)
        : m(std::move(state))
        , m_key(key) {}

    ProcessKey key() const override { return m_key; }
    std::optional<QString> applicationId() const override { return app().applicationId; }
    std::optional<QString> displayName() const override { return app().name; }
    std::optional<QString> entryPath() const override { return app().entryPath; }
    std::optional<QString> executablePath() const override { return app().executablePath; }
    QString windowTitle() const override { return app().windowTitle; }
    QList<qint64> processIds() const override {
        return app().processIds.isEmpty() ? QList<qint64>{m_key.pid} : app().processIds;
    }
    bool isHidden() const override { return app().hidden; }
    AppRole role() const override { return app().policy; }
    bool hasStarted() const override { return app().started; }
    bool acceptsPoliteQuit() const override { return app().acceptsPoliteQuit; }
    bool isAskingUser() const override { return app().askingUser || app().modal; }
    bool hasModalWindow() const override { return app().modal; }
    bool isBusy() const override { return app().busy; }
    bool isFullscreen() const override { return app().fullscreen; }
    bool requestQuit() override { return request(FakeWorkspace::RequestKind::Quit); }
    bool forceQuit() override { return request(FakeWorkspace::RequestKind::ForceQuit); }

private:
    const FakeApp& app() const { return m->entries[m_key].app; }
    bool request(FakeWorkspace::RequestKind kind) {
        m->requests.append({m_key, kind});
        const auto& entry = m->entries[m_key];
        const bool polite = kind == FakeWorkspace::RequestKind::Quit;
        if (!entry.running ||
            !(polite ? entry.quitDelivered && entry.app.acceptsPoliteQuit : entry.forceDelivered))
            return false;
        if (!polite || entry.quitEnds)
            m->end(m_key);
        return true;
    }

    std::shared_ptr<FakeWorkspace::State> m;
    ProcessKey m_key;
};

} // namespace

RunningApplication FakeWorkspace::add(const FakeApp& app) {
    const ProcessKey key{m->nextPid++, quint64(m->nextPid) * 7, 0};
    m->entries.insert(key, Entry{app});
    m->order.append(RunningApplication(std::make_shared<FakeBackend>(m, key)));
    return m->order.last();
}

RunningApplication FakeWorkspace::relaunch(const RunningApplication& app) {
    const qsizetype position = m->order.indexOf(app);
    m->end(app.key());
    const FakeApp copy = e(app).app; // add() may move the entries
    RunningApplication fresh = add(copy);
    if (position >= 0)
        m->order.move(m->order.size() - 1, position);
    return fresh;
}

void FakeWorkspace::activate(const RunningApplication& app) {
    const RunningApplication previous = std::exchange(m->frontmost, app);
    if (previous == app)
        return;
    if (!previous.isNull())
        emit didDeactivateApplication(previous);
    if (!app.isNull())
        emit didActivateApplication(app);
}

QList<FakeWorkspace::RequestKind> FakeWorkspace::requestsFor(const RunningApplication& app) const {
    QList<RequestKind> kinds;
    for (const Request& request : std::as_const(m->requests))
        if (request.key == app.key())
            kinds.append(request.kind);
    return kinds;
}

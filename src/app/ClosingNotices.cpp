#include "ClosingNotices.h"

#include "DesktopNotifier.h"

#include "engine/RunningAppsManager.h"
#include "platform/linux/DesktopLaunch.h"
#include "popover/ClosedToday.h"
#include "preferences/PreferenceKeys.h"

#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

// A due time read again a sweep later differs by the truncation of whole seconds.
constexpr double kSameDueSeconds = 2;
// Applications falling due within this much of the first share its notice.
constexpr double kGroupSeconds = 60;

QString nameOf(const RunningApplication& app) {
    const QString name = app.displayName().value_or(QString());
    return name.isEmpty() ? QStringLiteral("Unknown") : name;
}

QString minutes(qint64 count) {
    return count == 1 ? QStringLiteral("1 minute") : QStringLiteral("%1 minutes").arg(count);
}

// "Firefox", "Firefox and gedit", "3 applications".
QString subject(const QStringList& names) {
    if (names.size() == 1)
        return names.first();
    if (names.size() == 2)
        return QStringLiteral("%1 and %2").arg(names[0], names[1]);
    return QStringLiteral("%1 applications").arg(names.size());
}

} // namespace

ClosingNotices::ClosingNotices(RunningAppsManager& manager, DesktopNotifier& notifier,
                               ClosedToday& closed, Launcher launcher, QObject* parent)
    : QObject(parent)
    , m_manager(&manager)
    , m_notifier(&notifier)
    , m_closed(&closed)
    , m_launch(launcher ? std::move(launcher) : Launcher(launchDesktopEntry)) {
    connect(m_manager, &RunningAppsManager::runningAppsChanged, this,
            &ClosingNotices::scheduleCheck);
    connect(m_manager, &RunningAppsManager::toggleStatusChanged, this,
            &ClosingNotices::scheduleCheck);
    connect(m_manager, &RunningAppsManager::askedApplicationEnded, this,
            &ClosingNotices::applicationClosed);
    connect(m_notifier, &DesktopNotifier::actionInvoked, this, &ClosingNotices::actionInvoked);
    connect(m_notifier, &DesktopNotifier::closed, this, [this](uint id) {
        m_notices.remove(id);
        m_offers.remove(id);
    });
    connect(m_closed, &ClosedToday::reopenRequested, this, [this](int entry, const QString& path) {
        if (m_launch(path))
            m_closed->remove(entry);
    });
}

QString ClosingNotices::spokenDuration(double seconds) {
    const qint64 total = std::max<qint64>(qint64(seconds) / 60, 1);
    const qint64 hours = total / 60, rest = total % 60;
    if (hours == 0)
        return QStringLiteral("%1 min").arg(rest);
    if (rest == 0)
        return QStringLiteral("%1 h").arg(hours);
    return QStringLiteral("%1 h %2 min").arg(hours).arg(rest);
}

// The engine publishes several times in one sweep; one look after it is enough.
void ClosingNotices::scheduleCheck() {
    if (m_checkScheduled)
        return;
    m_checkScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_checkScheduled = false;
        check();
    });
}

void ClosingNotices::check() {
    const auto& tracked = m_manager->runningApps();
    const double now = m_manager->clock().now();
    // A new due time is told anew; what is no longer tracked needs no notice.
    for (auto it = m_toldDue.begin(); it != m_toldDue.end();) {
        const bool same = tracked.contains(it.key()) &&
                          std::abs(now + double(m_manager->secondsUntilQuit(it.key())) -
                                   it.value()) <= kSameDueSeconds;
        it = same ? std::next(it) : m_toldDue.erase(it);
    }
    // A notice none of whose applications is still coming up is withdrawn.
    for (auto it = m_notices.begin(); it != m_notices.end();) {
        if (std::ranges::none_of(*it, [&](const auto& app) { return m_toldDue.contains(app); })) {
            m_notifier->close(it.key());
            it = m_notices.erase(it);
        } else {
            ++it;
        }
    }

    const qint64 lead =
        Preference<qint64>(m_manager->defaults(), Keys::closingNoticeMinutes).value() * 60;
    if (lead <= 0 || !m_manager->quittingEnabled().value())
        return;
    const RunningApplication frontmost = m_manager->workspace().frontmostApplication();
    QList<Candidate> coming;
    for (auto it = tracked.cbegin(); it != tracked.cend(); ++it) {
        const RunningApplication& app = it.key();
        if (app == frontmost || m_toldDue.contains(app) || !app.hasStarted() ||
            m_manager->appState(app) != RunningAppsManager::AppState::Counting)
            continue;
        const qint64 left = m_manager->secondsUntilQuit(app);
        // Due now: it is asked in this very sweep, too late to be told.
        if (left > 0 && double(left) < double(lead) + kGroupSeconds)
            coming.append({app, now + double(left)});
    }
    // Same due time (kept open together): by name, so that a notice reads the same each time.
    std::ranges::sort(coming, [](const Candidate& a, const Candidate& b) {
        return a.due != b.due ? a.due < b.due : nameOf(a.app) < nameOf(b.app);
    });
    // The first to reach the lead takes along whatever falls due within its minute.
    while (!coming.isEmpty() && coming.first().due - now <= double(lead)) {
        const double until = coming.first().due + kGroupSeconds;
        const auto end =
            std::ranges::find_if(coming, [&](const auto& c) { return c.due >= until; });
        const QList<Candidate> group(coming.begin(), end);
        coming.erase(coming.begin(), end);
        tell(group, now);
    }
}

void ClosingNotices::tell(const QList<Candidate>& group, double now) {
    QStringList names, lines;
    QList<RunningApplication> apps;
    for (const Candidate& c : group) {
        m_toldDue.insert(c.app, c.due);
        apps << c.app;
        names << nameOf(c.app);
        const QString idle = spokenDuration(now - m_manager->runningApps().value(c.app, now));
        lines << (group.size() == 1
                      ? QStringLiteral("Not used for %1.").arg(idle)
                      : QStringLiteral("%1: not used for %2").arg(names.last(), idle));
    }
    const QString in = minutes(qint64(std::ceil(group.first().due - now) + 59) / 60);
    DesktopNotifier::Notice notice;
    // Held while the user is at the keyboard, the request may come later than due.
    notice.summary = m_manager->waitsUntilAway()
                         ? QStringLiteral("%1 will be closed once you are away, in %2 at the "
                                          "earliest")
                               .arg(subject(names), in)
                         : QStringLiteral("%1 will be closed in %2").arg(subject(names), in);
    notice.body = lines.join(u'\n');
    notice.actions = {{QStringLiteral("keep"), QStringLiteral("Keep open")},
                      {QStringLiteral("never"), QStringLiteral("Never close")}};
    notice.withoutActions = group.size() == 1
                                ? QStringLiteral("Use it, or switch it off in Idlewatch, to keep "
                                                 "it open.")
                                : QStringLiteral("Use them, or switch them off in Idlewatch, to "
                                                 "keep them open.");
    QPointer<ClosingNotices> self(this);
    m_notifier->notify(notice, [self, apps](std::optional<uint> id) {
        if (self && id)
            self->m_notices.insert(*id, apps);
    });
}

void ClosingNotices::applicationClosed(const RunningApplication& app, double idleSeconds) {
    const QString path = app.entryPath().value_or(QString());
    m_justClosed << m_closed->add(nameOf(app), canLaunchDesktopEntry(path) ? path : QString(),
                                  idleSeconds);
    // Everything one sweep closed is told in one notice.
    if (m_justClosed.size() == 1)
        QTimer::singleShot(0, this, &ClosingNotices::offerReopen);
}

void ClosingNotices::offerReopen() {
    const QList<int> ids = std::exchange(m_justClosed, {});
    QList<ClosedToday::Entry> entries = m_closed->entries();
    entries.removeIf([&](const ClosedToday::Entry& entry) { return !ids.contains(entry.id); });
    std::ranges::sort(entries, [](const auto& a, const auto& b) {
        return a.name.compare(b.name, Qt::CaseInsensitive) < 0;
    });
    QStringList names, lines;
    double idle = 0;
    bool reopenable = false;
    for (const ClosedToday::Entry& entry : std::as_const(entries)) {
        names << entry.name;
        lines << QStringLiteral("%1: not used for %2")
                     .arg(entry.name, spokenDuration(entry.idleSeconds));
        idle = entry.idleSeconds;
        reopenable = reopenable || !entry.entryPath.isEmpty();
    }
    if (names.isEmpty())
        return;
    DesktopNotifier::Notice notice;
    if (names.size() == 1) {
        notice.summary =
            QStringLiteral("Closed %1 (not used for %2)").arg(names.first(), spokenDuration(idle));
    } else {
        notice.summary = QStringLiteral("Closed %1 applications: %2")
                             .arg(names.size())
                             .arg(names.join(QStringLiteral(", ")));
        notice.body = lines.join(u'\n');
    }
    if (reopenable) {
        notice.actions = {{QStringLiteral("reopen"), names.size() == 1
                                                         ? QStringLiteral("Reopen")
                                                         : QStringLiteral("Reopen all")}};
        notice.withoutActions =
            QStringLiteral("Idlewatch's popover offers to reopen %1 until "
                           "midnight.")
                .arg(names.size() == 1 ? QStringLiteral("it") : QStringLiteral("them"));
    }
    QPointer<ClosingNotices> self(this);
    m_notifier->notify(notice, [self, ids](std::optional<uint> id) {
        if (self && id)
            self->m_offers.insert(*id, ids);
    });
}

void ClosingNotices::actionInvoked(uint id, const QString& key) {
    if (const auto offer = m_offers.constFind(id); offer != m_offers.cend()) {
        if (key == QLatin1String("reopen"))
            for (int entry : *offer)
                m_closed->reopen(entry);
        return;
    }
    const QList<RunningApplication> apps = m_notices.value(id);
    for (const RunningApplication& app : apps) {
        if (!m_manager->runningApps().contains(app))
            continue;
        if (key == QLatin1String("keep"))
            m_manager->setLastDeactivation(app, m_manager->clock().now());
        else if (key == QLatin1String("never"))
            m_manager->setToggle(app.displayName().value_or(QString()), false);
    }
}

#include "Controls.h"
#include "Panes.h"
#include "PreferenceGroup.h"

#include "engine/RunningAppsManager.h"
#include "preferences/Preferences.h"
#include "ui/ApplicationChooser.h"
#include "ui/Style.h"
#include "ui/Symbols.h"

#include <QCollator>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// The applications with a timeout of their own, by name: each with its minutes to edit and
// a button that gives it the default again. Built again when the names change; a change of
// minutes alone (from the popover, say) only updates the boxes.
class AppTimeoutList : public QWidget {
public:
    explicit AppTimeoutList(RunningAppsManager& manager)
        : m_manager(&manager) {
        auto* outer = new QVBoxLayout(this);
        outer->setContentsMargins(0, 0, 0, 0);
        auto* header = new QHBoxLayout;
        // An application that is not running yet gets one here, starting at the default.
        auto* add = SettingsControls::makeButton(
            QStringLiteral("Add App"), this,
            Symbols::icon(QStringLiteral("plus"), palette().color(QPalette::ButtonText)));
        connect(add, &QAbstractButton::clicked, this, [this] {
            for (const QString& path : ApplicationChooser::choose(m_manager->workspace(), window()))
                if (const auto entry = m_manager->workspace().entryAt(path))
                    m_manager->setAppTimeout(entry->name, m_manager->minutesUntilClose().value());
        });
        header->addWidget(add);
        header->addStretch(1);
        m_count = new QLabel(this);
        m_count->setFont(Style::caption(font()));
        header->addWidget(m_count);
        outer->addLayout(header);
        m_layout = new QVBoxLayout;
        m_layout->setContentsMargins(0, 0, 0, 0);
        m_layout->setSpacing(4);
        outer->addLayout(m_layout);
        // Queued: an edit that changes the collection must not delete its own box.
        connect(&manager, &RunningAppsManager::appTimeoutsChanged, this, &AppTimeoutList::rebuild,
                Qt::QueuedConnection);
        connect(&manager.defaults(), &UserDefaults::changed, this, [this](const QString& key) {
            if (key == QLatin1String(Keys::minutesUntilClose.name))
                rebuild();
        });
        rebuild();
    }

private:
    void rebuild() {
        QStringList names = m_manager->appTimeouts().keys();
        QCollator collator;
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        std::sort(names.begin(), names.end(),
                  [&](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
        m_count->setText(
            QStringLiteral("%1 with their own · the others %2")
                .arg(names.size())
                .arg(Preferences::formattedIdleTime(m_manager->minutesUntilClose().value())));
        if (names == m_names && !m_names.isEmpty()) {
            for (QSpinBox* box : std::as_const(m_boxes)) {
                const QSignalBlocker quiet(box);
                box->setValue(int(
                    m_manager->appTimeout(box->property("app").toString()).value_or(box->value())));
            }
            return;
        }
        m_names = names;
        m_boxes.clear();
        while (QLayoutItem* item = m_layout->takeAt(0)) {
            delete item->widget();
            delete item;
        }
        if (names.isEmpty()) {
            auto* empty = new QLabel(QStringLiteral("No app has a timeout of its own yet. "
                                                    "Right-click an app in the popover and "
                                                    "choose Timeout."),
                                     this);
            empty->setWordWrap(true);
            empty->setContentsMargins(0, 12, 0, 12);
            m_layout->addWidget(empty);
        }
        const IntRange& range = Keys::appTimeoutRange;
        for (const QString& name : std::as_const(names)) {
            auto* row = new QWidget(this);
            auto* line = new QHBoxLayout(row);
            line->setContentsMargins(0, 0, 0, 0);
            auto* label = new QLabel(name.isEmpty() ? QStringLiteral("Unknown") : name, row);
            auto* box = new ClampingSpinBox(row);
            box->setRange(int(range.minimum), int(range.maximum));
            box->setSingleStep(15);
            box->setSuffix(QStringLiteral(" min"));
            box->setValue(int(m_manager->appTimeout(name).value_or(range.minimum)));
            box->setAccessibleName(QStringLiteral("Timeout of %1 in minutes").arg(name));
            box->setProperty("app", name);
            connect(box, &QSpinBox::editingFinished, this,
                    [this, box, name] { m_manager->setAppTimeout(name, box->value()); });
            auto* remove = new QToolButton(row);
            remove->setAutoRaise(true);
            remove->setIcon(
                Symbols::icon(QStringLiteral("minus"), palette().color(QPalette::WindowText)));
            remove->setAccessibleName(QStringLiteral("Give %1 the default timeout").arg(name));
            remove->setToolTip(remove->accessibleName());
            connect(remove, &QToolButton::clicked, this,
                    [this, name] { m_manager->setAppTimeout(name, std::nullopt); });
            line->addWidget(label, 1);
            line->addWidget(box);
            line->addWidget(remove);
            m_layout->addWidget(row);
            m_boxes << box;
        }
    }

    RunningAppsManager* m_manager;
    QVBoxLayout* m_layout;
    QLabel* m_count;
    QStringList m_names;
    QList<QSpinBox*> m_boxes;
};

} // namespace

QWidget* Panes::appTimeouts(RunningAppsManager& manager) {
    return new PreferenceGroup(QStringLiteral("Apps with their own timeout"),
                               QStringLiteral("hourglass"), new AppTimeoutList(manager),
                               manager.defaults());
}

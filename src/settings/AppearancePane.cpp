#include "Panes.h"

#include "Controls.h"
#include "PreferenceGroup.h"
#include "SettingsStyle.h"

#include "engine/RunningAppsManager.h"
#include "preferences/PreferenceKeys.h"
#include "preferences/Preferences.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

// Accent colour, popover size and density, countdown form, sort order and emphasis.
QWidget* Panes::appearance(RunningAppsManager& manager) {
    using namespace SettingsControls;
    UserDefaults& store = manager.defaults();

    auto* color = new QWidget;
    auto* colorRow = new QHBoxLayout(color);
    colorRow->setContentsMargins(0, 0, 0, 0);
    colorRow->setSpacing(12);
    auto* accentLabel = new QLabel(QStringLiteral("Accent"));
    accentLabel->setFixedWidth(120);
    colorRow->addWidget(accentLabel, 0, Qt::AlignVCenter);
    for (const char* name : Preferences::kOfferedAccentColors)
        colorRow->addWidget(new AccentSwatch(QString::fromLatin1(name), {store, Keys::accentColor}),
                            0, Qt::AlignVCenter);
    colorRow->addStretch(1);

    const auto spinRow = [&store](const QString& label, const QString& suffix,
                                  const PreferenceKey<qint64>& key) {
        return makeRow(label, 150, makeSpinBox(label, {store, key}, suffix));
    };
    auto* layoutCard = new QWidget;
    auto* layoutRows = new QVBoxLayout(layoutCard);
    layoutRows->setContentsMargins(0, 0, 0, 0);
    layoutRows->addWidget(
        spinRow(QStringLiteral("Popover width"), QStringLiteral("px"), Keys::popoverWidth));
    layoutRows->addWidget(
        spinRow(QStringLiteral("App icon size"), QStringLiteral("px"), Keys::rowIconSize));
    layoutRows->addWidget(
        makeToggle(QStringLiteral("Use compact rows"), {store, Keys::compactRows}));
    layoutRows->addWidget(
        makeToggle(QStringLiteral("Show empty state when no apps are counting down"),
                   {store, Keys::showEmptyState}));

    auto* countdowns = new QWidget;
    auto* countdownRows = new QVBoxLayout(countdowns);
    countdownRows->setContentsMargins(0, 0, 0, 0);
    countdownRows->addWidget(
        new SegmentedPicker(QStringLiteral("Countdown style"),
                            {{QStringLiteral("Verbose"), QStringLiteral("verbose")},
                             {QStringLiteral("Compact"), QStringLiteral("compact")}},
                            {store, Keys::countdownStyle}));
    countdownRows->addWidget(
        new SegmentedPicker(QStringLiteral("Sort apps by"),
                            {{QStringLiteral("Name"), QStringLiteral("name")},
                             {QStringLiteral("Time remaining"), QStringLiteral("remaining")},
                             {QStringLiteral("Recently active"), QStringLiteral("recent")}},
                            {store, Keys::sortMode}));
    countdownRows->addWidget(makeToggle(QStringLiteral("Show seconds below one minute"),
                                        {store, Keys::showSecondsInCountdown}));
    countdownRows->addWidget(spinRow(QStringLiteral("Bold countdown under"), QStringLiteral("m"),
                                     Keys::countdownWarningMinutes));

    auto* pane = new QWidget;
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(SettingsStyle::kPaneSpacing);
    layout->addWidget(
        new PreferenceGroup(QStringLiteral("Color"), QStringLiteral("paintpalette"), color, store));
    layout->addWidget(new PreferenceGroup(QStringLiteral("Popover layout"),
                                          QStringLiteral("rectangle.and.text.magnifyingglass"),
                                          layoutCard, store));
    layout->addWidget(new PreferenceGroup(QStringLiteral("Countdowns"), QStringLiteral("hourglass"),
                                          countdowns, store));
    return pane;
}

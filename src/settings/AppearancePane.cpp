#include "AppearancePane.h"

#include "Controls.h"
#include "PreferenceGroup.h"
#include "SettingsView.h"

#include "preferences/PreferenceKeys.h"
#include "preferences/Preferences.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

AppearancePane::AppearancePane(SettingsView& view, QWidget* parent)
    : QWidget(parent) {
    UserDefaults& store = view.store();

    auto* color = new QWidget;
    auto* colorRow = new QHBoxLayout(color);
    colorRow->setContentsMargins(0, 0, 0, 0);
    colorRow->setSpacing(12);
    auto* accentLabel = new QLabel(QStringLiteral("Accent"), color);
    accentLabel->setFixedWidth(120);
    colorRow->addWidget(accentLabel, 0, Qt::AlignVCenter);
    for (const char* name : Preferences::kOfferedAccentColors) {
        auto* swatch = new AccentSwatch(QString::fromLatin1(name),
                                        Preference<QString>(store, Keys::accentColor), color);
        colorRow->addWidget(swatch, 0, Qt::AlignVCenter);
        m_swatches << swatch;
    }
    colorRow->addStretch(1);

    auto* layoutCard = new QWidget;
    auto* layoutRows = new QVBoxLayout(layoutCard);
    layoutRows->setContentsMargins(0, 0, 0, 0);
    m_popoverWidth = makePreferenceStepper(QStringLiteral("Popover width"),
                                           Preference<qint64>(store, Keys::popoverWidth),
                                           {280, 520, 20}, QStringLiteral("px"), 70);
    layoutRows->addWidget(
        makeStepperRow(QStringLiteral("Popover width"), 150, m_popoverWidth, nullptr, layoutCard));
    m_rowIconSize = makePreferenceStepper(QStringLiteral("App icon size"),
                                          Preference<qint64>(store, Keys::rowIconSize), {20, 40, 2},
                                          QStringLiteral("px"), 70);
    layoutRows->addWidget(
        makeStepperRow(QStringLiteral("App icon size"), 150, m_rowIconSize, nullptr, layoutCard));
    m_compactRows = SettingsControls::makeToggle(
        QStringLiteral("Use compact rows"), Preference<bool>(store, Keys::compactRows), layoutCard);
    layoutRows->addWidget(m_compactRows);
    m_showEmptyState = SettingsControls::makeToggle(
        QStringLiteral("Show empty state when no apps are counting down"),
        Preference<bool>(store, Keys::showEmptyState), layoutCard);
    layoutRows->addWidget(m_showEmptyState);

    auto* countdowns = new QWidget;
    auto* countdownRows = new QVBoxLayout(countdowns);
    countdownRows->setContentsMargins(0, 0, 0, 0);
    m_countdownStyle =
        new SegmentedPicker(QStringLiteral("Countdown style"),
                            {{QStringLiteral("Verbose"), QStringLiteral("verbose")},
                             {QStringLiteral("Compact"), QStringLiteral("compact")}},
                            Preference<QString>(store, Keys::countdownStyle), countdowns);
    countdownRows->addWidget(m_countdownStyle);
    m_sortMode =
        new SegmentedPicker(QStringLiteral("Sort apps by"),
                            {{QStringLiteral("Name"), QStringLiteral("name")},
                             {QStringLiteral("Time remaining"), QStringLiteral("remaining")},
                             {QStringLiteral("Recently active"), QStringLiteral("recent")}},
                            Preference<QString>(store, Keys::sortMode), countdowns);
    countdownRows->addWidget(m_sortMode);
    m_showSeconds = SettingsControls::makeToggle(
        QStringLiteral("Show seconds below one minute"),
        Preference<bool>(store, Keys::showSecondsInCountdown), countdowns);
    countdownRows->addWidget(m_showSeconds);
    m_warning = makePreferenceStepper(QStringLiteral("Bold countdown under"),
                                      Preference<qint64>(store, Keys::countdownWarningMinutes),
                                      {1, 180, 5}, QStringLiteral("m"), 70);
    countdownRows->addWidget(makeStepperRow(QStringLiteral("Bold countdown under"), 150, m_warning,
                                            nullptr, countdowns));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(SettingsView::kPaneSpacing);
    layout->addWidget(new PreferenceGroup(QStringLiteral("Color"), QStringLiteral("paintpalette"),
                                          color, store, this));
    layout->addWidget(new PreferenceGroup(QStringLiteral("Popover layout"),
                                          QStringLiteral("rectangle.and.text.magnifyingglass"),
                                          layoutCard, store, this));
    layout->addWidget(new PreferenceGroup(QStringLiteral("Countdowns"), QStringLiteral("hourglass"),
                                          countdowns, store, this));
}

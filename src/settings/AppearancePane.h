#pragma once

#include <QList>
#include <QWidget>

class AccentSwatch;
class QCheckBox;
class SegmentedPicker;
class SettingsView;
class Stepper;

// Accent colour, popover size and density, countdown form, sort order and emphasis.
class AppearancePane : public QWidget {
    Q_OBJECT
public:
    explicit AppearancePane(SettingsView& view, QWidget* parent = nullptr);

    QList<AccentSwatch*> swatches() const { return m_swatches; }
    Stepper* popoverWidthStepper() const { return m_popoverWidth; }
    Stepper* rowIconSizeStepper() const { return m_rowIconSize; }
    QCheckBox* compactRowsToggle() const { return m_compactRows; }
    QCheckBox* showEmptyStateToggle() const { return m_showEmptyState; }
    SegmentedPicker* countdownStylePicker() const { return m_countdownStyle; }
    SegmentedPicker* sortModePicker() const { return m_sortMode; }
    QCheckBox* showSecondsToggle() const { return m_showSeconds; }
    Stepper* warningStepper() const { return m_warning; }

private:
    QList<AccentSwatch*> m_swatches;
    Stepper* m_popoverWidth = nullptr;
    Stepper* m_rowIconSize = nullptr;
    QCheckBox* m_compactRows = nullptr;
    QCheckBox* m_showEmptyState = nullptr;
    SegmentedPicker* m_countdownStyle = nullptr;
    SegmentedPicker* m_sortMode = nullptr;
    QCheckBox* m_showSeconds = nullptr;
    Stepper* m_warning = nullptr;
};

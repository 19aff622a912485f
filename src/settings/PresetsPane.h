#pragma once

#include <QList>
#include <QWidget>

class QAbstractButton;
class SettingsView;

// The three behaviour presets as clickable rows; a click applies the row's preset.
class PresetsPane : public QWidget {
    Q_OBJECT
public:
    explicit PresetsPane(SettingsView& view, QWidget* parent = nullptr);

    // One row per preset, in display order.
    QList<QAbstractButton*> rows() const { return m_rows; }

private:
    QList<QAbstractButton*> m_rows;
};

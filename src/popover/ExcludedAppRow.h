#pragma once

#include "engine/ExcludedApp.h"

#include <QAbstractButton>

#include <functional>

class ElidedLabel;
class QLabel;
class UserDefaults;

// One exclusion in a list: the application's icon and name, highlighted in the accent
// colour when selected. Clicking it runs `action`. The icon size ("rowIconSize" - 8, at
// least 16) and the accent follow the store live. Shared by the popover and the settings.
class ExcludedAppRow : public QAbstractButton {
    Q_OBJECT
public:
    ExcludedAppRow(ExcludedApp app, bool isSelected, std::function<void()> action,
                   UserDefaults& defaults, QWidget* parent = nullptr);

    const ExcludedApp& app() const { return m_app; }
    bool isSelected() const { return m_isSelected; }
    void setSelected(bool selected);

    // max(rowIconSize - 8, 16), saturating for any stored value.
    static int iconSize(qint64 rowIconSize);
    int currentIconSize() const;
    QString displayedName() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();

    ExcludedApp m_app;
    bool m_isSelected;
    std::function<void()> m_action;
    UserDefaults* m_defaults;
    QLabel* m_icon;
    ElidedLabel* m_name;
};

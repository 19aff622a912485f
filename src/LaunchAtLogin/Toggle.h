#pragma once

#include <QWidget>

#include <functional>

class QCheckBox;
class QLabel;

namespace LaunchAtLogin {

// The on/off switch of launch at login over the shared Observable. It shows the state
// the file system reports: read again whenever it is shown, its window is activated or
// any switch wrote a change, so a failed write shows the real state.
class Toggle : public QWidget {
    Q_OBJECT
public:
    // Label "Launch at login", as is.
    explicit Toggle(QWidget* parent = nullptr);
    // Label looked up for translation (context "LaunchAtLogin").
    explicit Toggle(const char* titleKey, QWidget* parent = nullptr);
    // Label shown exactly as given.
    explicit Toggle(const QString& title, QWidget* parent = nullptr);
    // Label built once by the closure, shown beside the switch.
    explicit Toggle(const std::function<QWidget*()>& makeLabel, QWidget* parent = nullptr);

    QCheckBox* switchButton() const { return m_switch; }
    // The label widget when built by a closure; null for text labels (the switch's text).
    QWidget* labelWidget() const { return m_label; }

    // Reads the registration again and shows it.
    void refresh();

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void build(const QString& text, QWidget* label);

    QCheckBox* m_switch = nullptr;
    QWidget* m_label = nullptr;
};

} // namespace LaunchAtLogin

#pragma once

#include <QWidget>

#include <functional>

class QCheckBox;
class QLabel;

namespace LaunchAtLogin {

class Observable;

// The on/off switch of launch at login over an Observable, which must outlive it. It shows
// the state the file system reports: read again whenever it is shown, its window is
// activated or any switch over the same model wrote a change, so a failed write shows the
// real state.
class Toggle : public QWidget {
    Q_OBJECT
public:
    // Label "Launch at login", as is.
    explicit Toggle(Observable& model, QWidget* parent = nullptr);
    // Label looked up for translation (context "LaunchAtLogin").
    Toggle(Observable& model, const char* titleKey, QWidget* parent = nullptr);
    // Label shown exactly as given.
    Toggle(Observable& model, const QString& title, QWidget* parent = nullptr);
    // Label built once by the closure, shown beside the switch.
    Toggle(Observable& model, const std::function<QWidget*()>& makeLabel,
           QWidget* parent = nullptr);

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

    Observable& m_model;
    QCheckBox* m_switch = nullptr;
    QWidget* m_label = nullptr;
};

} // namespace LaunchAtLogin

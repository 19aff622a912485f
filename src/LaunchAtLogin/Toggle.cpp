#include "Toggle.h"

#include "LaunchAtLogin.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QSignalBlocker>

namespace LaunchAtLogin {

Toggle::Toggle(Observable& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model) {
    build(QStringLiteral("Launch at login"), nullptr);
}

Toggle::Toggle(Observable& model, const char* titleKey, QWidget* parent)
    : QWidget(parent)
    , m_model(model) {
    build(QCoreApplication::translate("LaunchAtLogin", titleKey), nullptr);
}

Toggle::Toggle(Observable& model, const QString& title, QWidget* parent)
    : QWidget(parent)
    , m_model(model) {
    build(title, nullptr);
}

Toggle::Toggle(Observable& model, const std::function<QWidget*()>& makeLabel, QWidget* parent)
    : QWidget(parent)
    , m_model(model) {
    build(QString(), makeLabel ? makeLabel() : nullptr);
}

void Toggle::build(const QString& text, QWidget* label) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_switch = new QCheckBox(text, this);
    layout->addWidget(m_switch);
    if (label) {
        m_label = label;
        m_label->setParent(this);
        layout->addWidget(m_label);
        m_switch->setAccessibleName(m_label->accessibleName());
    }
    refresh();

    connect(m_switch, &QCheckBox::clicked, this, [this](bool on) { m_model.setEnabled(on); });
    connect(&m_model, &Observable::changed, this, &Toggle::refresh);
}

void Toggle::refresh() {
    const QSignalBlocker blocker(m_switch);
    m_switch->setChecked(m_model.isEnabled());
}

void Toggle::showEvent(QShowEvent* event) {
    refresh();
    QWidget::showEvent(event);
}

void Toggle::changeEvent(QEvent* event) {
    // Another program may have changed the entry while we were in the background.
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        refresh();
    QWidget::changeEvent(event);
}

} // namespace LaunchAtLogin

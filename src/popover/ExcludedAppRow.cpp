#include "ExcludedAppRow.h"

#include "platform/linux/DesktopIcons.h"
#include "preferences/PreferenceKeys.h"
#include "ui/Accent.h"
#include "ui/ElidedLabel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

ExcludedAppRow::ExcludedAppRow(ExcludedApp app, bool isSelected, std::function<void()> action,
                               UserDefaults& defaults, QWidget* parent)
    : QAbstractButton(parent)
    , m_app(std::move(app))
    , m_isSelected(isSelected)
    , m_action(std::move(action))
    , m_defaults(&defaults)
    , m_icon(new QLabel(this))
    , m_name(new ElidedLabel(this)) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(m_app.name);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 4, 6, 4);
    layout->setSpacing(8);
    layout->addWidget(m_icon, 0, Qt::AlignVCenter);
    layout->addWidget(m_name, 1, Qt::AlignVCenter);
    m_icon->setAlignment(Qt::AlignCenter);
    m_name->setText(m_app.name);

    connect(this, &QAbstractButton::clicked, this, [this] {
        if (m_action)
            m_action();
    });
    connect(m_defaults, &UserDefaults::changed, this, [this](const QString& key) {
        if (key == QLatin1String(Keys::rowIconSize.name) ||
            key == QLatin1String(Keys::accentColor.name))
            refresh();
    });
    refresh();
}

void ExcludedAppRow::setSelected(bool selected) {
    if (selected == m_isSelected)
        return;
    m_isSelected = selected;
    update();
}

int ExcludedAppRow::iconSize(qint64 rowIconSize) {
    // Compare before subtracting: a huge or hugely negative stored size must not wrap.
    constexpr qint64 kMaxEdge = 512;
    const qint64 edge = std::clamp<qint64>(rowIconSize, 0, kMaxEdge + 8) - 8;
    return static_cast<int>(std::max<qint64>(edge, 16));
}

int ExcludedAppRow::currentIconSize() const {
    return iconSize(Preference<qint64>(*m_defaults, Keys::rowIconSize).value());
}

QString ExcludedAppRow::displayedName() const {
    return m_name->displayedText();
}

QSize ExcludedAppRow::sizeHint() const {
    return layout()->sizeHint();
}

void ExcludedAppRow::refresh() {
    const int edge = currentIconSize();
    m_icon->setFixedSize(edge, edge);
    m_icon->setPixmap(iconForFile(m_app.path).pixmap(QSize(edge, edge), devicePixelRatioF()));
    updateGeometry();
    update();
}

void ExcludedAppRow::paintEvent(QPaintEvent*) {
    if (!m_isSelected)
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QColor fill = accentColorInUse(*m_defaults);
    fill.setAlphaF(0.2f);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 5, 5);
    p.fillPath(shape, fill);
}

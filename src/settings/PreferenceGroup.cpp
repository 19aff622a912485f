#include "PreferenceGroup.h"

#include "Controls.h"
#include "SettingsStyle.h"

#include "preferences/PreferenceKeys.h"
#include "preferences/UserDefaults.h"
#include "ui/Accent.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

PreferenceGroup::PreferenceGroup(const QString& title, const QString& icon, QWidget* content,
                                 UserDefaults& store, QWidget* parent)
    : QFrame(parent)
    , m_icon(icon)
    , m_store(&store) {
    setAccessibleName(title);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Maximum);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    layout->setSpacing(kSpacing);

    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    auto* symbol = new QLabel(this);
    header->addWidget(symbol, 0, Qt::AlignVCenter);
    header->addWidget(SettingsStyle::makeLabel(title, SettingsStyle::headlineFont(), false, this),
                      1, Qt::AlignVCenter);
    layout->addLayout(header);

    content->setParent(this);
    layout->addWidget(content);

    // Follow the accent wherever it is written from.
    SettingsControls::bindRefresh(
        this, store, {QString::fromLatin1(Keys::accentColor.name)},
        [this, symbol] { SettingsControls::setSymbol(symbol, m_icon, 16, groupAccentColor()); });
}

QColor PreferenceGroup::groupAccentColor() const {
    return accentColorInUse(*m_store);
}

void PreferenceGroup::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), kCornerRadius, kCornerRadius);
    painter.fillPath(path, SettingsStyle::controlBackgroundColor(this));
}

#include "Panes.h"

#include "Controls.h"
#include "PreferenceGroup.h"
#include "SettingsStyle.h"

#include "engine/ApplyPreset.h"
#include "engine/RunningAppsManager.h"
#include "preferences/BehaviorPreset.h"
#include "preferences/Preferences.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace {

// The whole face is the click target: the labels inside let mouse events through.
class PresetRow : public QAbstractButton {
public:
    PresetRow(const BehaviorPreset& preset, QWidget* parent)
        : QAbstractButton(parent) {
        setText(preset.title);
        setAccessibleName(preset.title);
        setAccessibleDescription(preset.detail);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::TabFocus);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(10, 10, 10, 10);
        layout->setSpacing(12);
        auto* icon = new QLabel(this);
        SettingsControls::setSymbol(icon, preset.icon, 20, Preferences::goldColor());
        layout->addWidget(icon, 0, Qt::AlignVCenter);

        auto* texts = new QVBoxLayout;
        texts->setSpacing(2);
        texts->addWidget(
            SettingsStyle::makeLabel(preset.title, SettingsStyle::headlineFont(), false, this));
        auto* detail =
            SettingsStyle::makeLabel(preset.detail, SettingsStyle::captionFont(), true, this);
        detail->setWordWrap(true);
        texts->addWidget(detail);
        layout->addLayout(texts, 1);

        QFont timeFont = SettingsStyle::captionFont();
        timeFont.setWeight(QFont::DemiBold);
        layout->addWidget(
            SettingsStyle::makeLabel(Preferences::formattedIdleTime(preset.minutesUntilClose),
                                     timeFont, true, this),
            0, Qt::AlignVCenter);
    }

    QSize sizeHint() const override { return layout()->sizeHint(); }
    QSize minimumSizeHint() const override { return layout()->minimumSize(); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), 8, 8);
        QColor fill = SettingsStyle::windowBackgroundColor(this);
        if (isDown())
            fill = fill.darker(108);
        painter.fillPath(path, fill);
        if (hasFocus()) {
            painter.setPen(QPen(palette().color(QPalette::Highlight), 1));
            painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
        }
    }
};

} // namespace

QWidget* Panes::presets(RunningAppsManager& manager) {
    auto* content = new QWidget;
    auto* rows = new QVBoxLayout(content);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(10);
    for (const BehaviorPreset& preset : BehaviorPreset::all()) {
        auto* row = new PresetRow(preset, content);
        QObject::connect(row, &QAbstractButton::clicked, &manager,
                         [&manager, &preset] { applyPreset(preset, manager); });
        rows->addWidget(row);
    }
    return new PreferenceGroup(QStringLiteral("Presets"),
                               QStringLiteral("slider.horizontal.below.sun.max"), content,
                               manager.defaults());
}

#include "Controls.h"

#include "SettingsStyle.h"

#include "preferences/Preferences.h"
#include "preferences/UserDefaults.h"
#include "ui/Keyboard.h"
#include "ui/Symbols.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>

#include <QRegularExpression>

#include <algorithm>

QValidator::State ClampingSpinBox::validate(QString& input, int& pos) const {
    const QValidator::State state = QSpinBox::validate(input, pos);
    if (state != QValidator::Invalid)
        return state;
    // A sign alone is on its way to a number.
    static const QRegularExpression number(QStringLiteral("^[+-]?[0-9]*$"));
    return number.match(typedText(input)).hasMatch() ? QValidator::Intermediate
                                                     : QValidator::Invalid;
}

void ClampingSpinBox::fixup(QString& input) const {
    static const QRegularExpression number(QStringLiteral("^[+-]?[0-9]+$"));
    const QString text = typedText(input);
    if (!number.match(text).hasMatch())
        return;
    bool ok = false;
    qint64 n = text.toLongLong(&ok);
    // More digits than any integer holds: as far out as the sign says.
    if (!ok)
        n = text.startsWith(u'-') ? minimum() : maximum();
    input = prefix() +
            textFromValue(static_cast<int>(std::clamp<qint64>(n, minimum(), maximum()))) + suffix();
}

QString ClampingSpinBox::typedText(const QString& input) const {
    if (!input.startsWith(prefix()) || !input.endsWith(suffix()))
        return QStringLiteral("?");
    return input.mid(prefix().size(), input.size() - prefix().size() - suffix().size()).trimmed();
}

namespace SettingsControls {

void bindRefresh(QObject* context, UserDefaults& store, const QStringList& keys,
                 const std::function<void()>& refresh) {
    refresh();
    QObject::connect(&store, &UserDefaults::changed, context, [keys, refresh](const QString& key) {
        if (keys.contains(key))
            refresh();
    });
}

QPushButton* makeButton(const QString& text, QWidget* parent, const QIcon& icon) {
    auto* button = new QPushButton(icon, text, parent);
    const QSize hint = button->sizeHint();
    button->setMinimumSize(hint.width() + 16,
                           std::max(hint.height(), button->fontMetrics().height() + 10));
    return button;
}

QCheckBox* makeToggle(const QString& text, const Preference<bool>& preference, QWidget* parent) {
    auto* box = new QCheckBox(text, parent);
    QObject::connect(box, &QCheckBox::clicked, box,
                     [preference](bool checked) { preference.set(checked); });
    bindRefresh(box, preference.store(), {preference.name()}, [box, preference] {
        const QSignalBlocker blocker(box);
        box->setChecked(preference());
    });
    return box;
}

QSpinBox* makeSpinBox(const QString& accessibleName, const Preference<qint64>& preference,
                      const QString& suffix, QWidget* parent) {
    auto* spin = new ClampingSpinBox(parent);
    const IntRange& range = preference.range();
    spin->setAccessibleName(accessibleName);
    spin->setRange(static_cast<int>(range.minimum), static_cast<int>(range.maximum));
    spin->setSingleStep(static_cast<int>(range.step));
    spin->setSuffix(suffix);
    spin->setAlignment(Qt::AlignRight);
    spin->setMinimumWidth(80); // one width for every field, whatever its range
    // Typing writes once, when the user is done, not one key per digit.
    spin->setKeyboardTracking(false);
    QObject::connect(spin, &QSpinBox::valueChanged, spin,
                     [preference](int value) { preference.set(value); });
    bindRefresh(spin, preference.store(), {preference.name()}, [spin, preference] {
        const QSignalBlocker blocker(spin);
        spin->setValue(static_cast<int>(preference()));
    });
    return spin;
}

QWidget* makeRow(const QString& label, int labelWidth, QWidget* control, QWidget* trailing,
                 QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* text = new QLabel(label, row);
    text->setFixedWidth(labelWidth);
    layout->addWidget(text, 0, Qt::AlignVCenter);
    layout->addWidget(control, 0, Qt::AlignVCenter);
    if (trailing)
        layout->addWidget(trailing, 0, Qt::AlignVCenter);
    layout->addStretch(1);
    return row;
}

void setSymbol(QLabel* label, const QString& symbol, int size, const QColor& color) {
    label->setFixedSize(size + 4, size);
    label->setAlignment(Qt::AlignCenter);
    label->setPixmap(Symbols::pixmap(symbol, size, color, label->devicePixelRatioF()));
}

} // namespace SettingsControls

// --- SegmentedPicker

namespace {
// One segment of a picker: the outer segments round their outer corners; the selected
// one is filled with the accent.
class SegmentButton : public QAbstractButton {
public:
    enum class Position { Only, First, Middle, Last };

    SegmentButton(const QString& text, Position position, QWidget* parent)
        : QAbstractButton(parent)
        , m_position(position) {
        setText(text);
        setCheckable(true);
        setFocusPolicy(Qt::TabFocus);
        setAttribute(Qt::WA_Hover);
    }

    QSize sizeHint() const override {
        return {fontMetrics().horizontalAdvance(text()) + 24, fontMetrics().height() + 8};
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        constexpr qreal radius = 5;
        QPainterPath path;
        path.addRoundedRect(r, radius, radius);
        QPainterPath square;
        if (m_position == Position::First || m_position == Position::Middle)
            square.addRect(r.adjusted(r.width() / 2, 0, 0, 0));
        if (m_position == Position::Last || m_position == Position::Middle)
            square.addRect(r.adjusted(0, 0, -r.width() / 2, 0));
        path = path.united(square);

        const QPalette& pal = palette();
        QColor fill = isChecked() ? pal.color(QPalette::Highlight) : pal.color(QPalette::Button);
        if (isDown())
            fill = fill.darker(110);
        else if (underMouse() && !isChecked())
            fill = fill.lighter(104);
        painter.fillPath(path, fill);
        painter.setPen(QPen(SettingsStyle::controlBorderColor(pal), 1));
        painter.drawPath(path);
        if (hasFocus())
            Keyboard::drawFocusRing(painter, this, QRectF(rect()), radius);
        painter.setPen(isChecked() ? pal.color(QPalette::HighlightedText)
                                   : pal.color(QPalette::ButtonText));
        painter.drawText(rect(), Qt::AlignCenter, text());
    }

private:
    Position m_position;
};
} // namespace

SegmentedPicker::SegmentedPicker(const QString& label, QList<Option> options,
                                 const Preference<QString>& preference, QWidget* parent)
    : QWidget(parent)
    , m_options(std::move(options))
    , m_preference(preference)
    , m_group(new QButtonGroup(this)) {
    setAccessibleName(label);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(label, this));
    auto* segments = new QHBoxLayout;
    segments->setSpacing(0);
    for (qsizetype i = 0; i < m_options.size(); ++i) {
        using Position = SegmentButton::Position;
        const Position position = m_options.size() == 1       ? Position::Only
                                  : i == 0                    ? Position::First
                                  : i == m_options.size() - 1 ? Position::Last
                                                              : Position::Middle;
        auto* button = new SegmentButton(m_options[i].title, position, this);
        m_group->addButton(button, static_cast<int>(i));
        segments->addWidget(button);
    }
    connect(m_group, &QButtonGroup::idClicked, this,
            [this](int id) { m_preference.set(m_options[id].value); });
    layout->addLayout(segments);
    layout->addStretch(1);
    SettingsControls::bindRefresh(this, m_preference.store(), {m_preference.name()},
                                  [this] { refresh(); });
}

void SegmentedPicker::refresh() {
    const QString stored = m_preference();
    // An exclusive group cannot show "none"; the stored value may match no segment.
    m_group->setExclusive(false);
    for (qsizetype i = 0; i < m_options.size(); ++i)
        m_group->button(static_cast<int>(i))->setChecked(m_options[i].value == stored);
    m_group->setExclusive(true);
}

// --- AccentSwatch

AccentSwatch::AccentSwatch(const QString& name, const Preference<QString>& accentColor,
                           QWidget* parent)
    : QAbstractButton(parent)
    , m_name(name)
    , m_accentColor(accentColor) {
    setToolTip(name);
    setAccessibleName(name);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    // The 22-point circle with room around it for the focus ring.
    setFixedSize(kSize, kSize);
    connect(this, &QAbstractButton::clicked, this, [this] { m_accentColor.set(m_name); });
    SettingsControls::bindRefresh(this, m_accentColor.store(), {m_accentColor.name()},
                                  [this] { update(); });
}

bool AccentSwatch::isRinged() const {
    return m_accentColor() == m_name;
}

void AccentSwatch::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal inset = (kSize - 22) / 2.0;
    const QRectF circle = QRectF(rect()).adjusted(inset, inset, -inset, -inset);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Preferences::accentColor(m_name));
    painter.drawEllipse(circle);
    if (isRinged()) {
        painter.setPen(QPen(SettingsStyle::primaryTextColor(this), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(circle);
    }
    if (hasFocus())
        Keyboard::drawFocusRing(painter, this, QRectF(rect()), kSize / 2.0);
}

QAbstractButton* SegmentedPicker::segment(const QString& value) const {
    for (qsizetype i = 0; i < m_options.size(); ++i)
        if (m_options[i].value == value)
            return m_group->button(static_cast<int>(i));
    return nullptr;
}

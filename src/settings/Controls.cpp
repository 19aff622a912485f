#include "Controls.h"

#include "SettingsStyle.h"

#include "preferences/Preferences.h"
#include "preferences/UserDefaults.h"
#include "ui/Symbols.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

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

} // namespace SettingsControls

// --- SymbolView

SymbolView::SymbolView(const QString& symbol, int symbolSize, std::function<QColor()> color,
                       QWidget* parent)
    : QWidget(parent)
    , m_symbol(symbol)
    , m_symbolSize(symbolSize)
    , m_color(std::move(color)) {
    setAttribute(Qt::WA_TranslucentBackground);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SymbolView::setSymbol(const QString& symbol) {
    m_symbol = symbol;
    update();
}

void SymbolView::setColor(std::function<QColor()> color) {
    m_color = std::move(color);
    update();
}

QSize SymbolView::sizeHint() const {
    return {m_symbolSize, m_symbolSize};
}

void SymbolView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const qreal ratio = devicePixelRatioF();
    const int side = std::min({m_symbolSize, width(), height()});
    const QPixmap pixmap = Symbols::pixmap(m_symbol, side, m_color(), ratio);
    const QSizeF drawn = QSizeF(pixmap.size()) / pixmap.devicePixelRatio();
    painter.drawPixmap(QPointF((width() - drawn.width()) / 2, (height() - drawn.height()) / 2),
                       pixmap);
}

// --- Stepper

Stepper::Stepper(const QString& accessibleLabel, Range range, std::function<qint64()> read,
                 std::function<void(qint64)> write, const QString& suffix, int valueLabelWidth,
                 QWidget* parent)
    : QWidget(parent)
    , m_range(range)
    , m_read(std::move(read))
    , m_write(std::move(write))
    , m_suffix(suffix) {
    setAccessibleName(accessibleLabel);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    if (valueLabelWidth > 0) {
        m_valueLabel = new QLabel(this);
        m_valueLabel->setFixedWidth(valueLabelWidth);
        m_valueLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        layout->addWidget(m_valueLabel);
    }

    auto* arrows = new QVBoxLayout;
    arrows->setContentsMargins(0, 0, 0, 0);
    arrows->setSpacing(0);
    auto makeArrow = [this, &accessibleLabel](Qt::ArrowType type, const QString& what) {
        auto* button = new QToolButton(this);
        button->setArrowType(type);
        button->setFixedSize(20, 12);
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::TabFocus);
        button->setAccessibleName(accessibleLabel.isEmpty() ? what : accessibleLabel + ' ' + what);
        return button;
    };
    m_up = makeArrow(Qt::UpArrow, QStringLiteral("increment"));
    m_down = makeArrow(Qt::DownArrow, QStringLiteral("decrement"));
    arrows->addWidget(m_up);
    arrows->addWidget(m_down);
    layout->addLayout(arrows);

    connect(m_up, &QToolButton::clicked, this, &Stepper::stepUp);
    connect(m_down, &QToolButton::clicked, this, &Stepper::stepDown);
    refresh();
}

void Stepper::stepUp() {
    stepBy(m_range.step);
}

void Stepper::stepDown() {
    stepBy(-m_range.step);
}

void Stepper::stepBy(qint64 delta) {
    const qint64 current = m_read();
    // A value stored from outside may lie beyond the range; a step brings it back inside.
    qint64 next;
    if (delta > 0)
        next = current >= m_range.maximum - delta ? m_range.maximum : current + delta;
    else
        next = current <= m_range.minimum - delta ? m_range.minimum : current + delta;
    next = std::clamp(next, m_range.minimum, m_range.maximum);
    if (next != current)
        m_write(next);
    refresh();
}

void Stepper::refresh() {
    const qint64 value = m_read();
    if (m_valueLabel)
        m_valueLabel->setText(QString::number(value) + m_suffix);
    m_up->setEnabled(value < m_range.maximum);
    m_down->setEnabled(value > m_range.minimum);
}

Stepper* makePreferenceStepper(const QString& accessibleLabel, const Preference<qint64>& preference,
                               Stepper::Range range, const QString& suffix, int valueLabelWidth,
                               QWidget* parent) {
    auto* stepper = new Stepper(
        accessibleLabel, range, [preference] { return preference(); },
        [preference](qint64 value) { preference.set(value); }, suffix, valueLabelWidth, parent);
    SettingsControls::bindRefresh(stepper, preference.store(), {preference.name()},
                                  [stepper] { stepper->refresh(); });
    return stepper;
}

QWidget* makeStepperRow(const QString& label, int labelWidth, Stepper* stepper, QWidget* trailing,
                        QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* text = new QLabel(label, row);
    text->setFixedWidth(labelWidth);
    layout->addWidget(text, 0, Qt::AlignVCenter);
    stepper->setParent(row);
    layout->addWidget(stepper, 0, Qt::AlignVCenter);
    if (trailing) {
        trailing->setParent(row);
        layout->addWidget(trailing, 0, Qt::AlignVCenter);
    }
    layout->addStretch(1);
    if (stepper->accessibleName().isEmpty())
        stepper->setAccessibleName(label);
    return row;
}

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
        painter.setPen(
            QPen(hasFocus() ? pal.color(QPalette::Highlight) : pal.color(QPalette::Mid), 1));
        painter.drawPath(path);
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
    , m_preference(preference) {
    setAccessibleName(label);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(label, this));

    auto* segments = new QHBoxLayout;
    segments->setSpacing(0);
    for (qsizetype i = 0; i < m_options.size(); ++i) {
        const Option& option = m_options[i];
        using Position = SegmentButton::Position;
        const Position position = m_options.size() == 1       ? Position::Only
                                  : i == 0                    ? Position::First
                                  : i == m_options.size() - 1 ? Position::Last
                                                              : Position::Middle;
        auto* button = new SegmentButton(option.title, position, this);
        connect(button, &QAbstractButton::clicked, this, [this, value = option.value] {
            m_preference.set(value);
            refresh();
        });
        segments->addWidget(button);
        m_buttons << button;
    }
    layout->addLayout(segments);
    layout->addStretch(1);
    SettingsControls::bindRefresh(this, m_preference.store(), {m_preference.name()},
                                  [this] { refresh(); });
}

QAbstractButton* SegmentedPicker::segment(const QString& value) const {
    for (qsizetype i = 0; i < m_options.size(); ++i)
        if (m_options[i].value == value)
            return m_buttons[i];
    return nullptr;
}

QString SegmentedPicker::selectedValue() const {
    for (qsizetype i = 0; i < m_options.size(); ++i)
        if (m_buttons[i]->isChecked())
            return m_options[i].value;
    return {};
}

void SegmentedPicker::refresh() {
    const QString stored = m_preference();
    for (qsizetype i = 0; i < m_options.size(); ++i) {
        const QSignalBlocker blocker(m_buttons[i]);
        m_buttons[i]->setChecked(m_options[i].value == stored);
    }
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
    setFixedSize(22, 22);
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
    const QRectF circle = QRectF(rect()).adjusted(1, 1, -1, -1);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Preferences::accentColor(m_name));
    painter.drawEllipse(circle);
    if (isRinged()) {
        painter.setPen(QPen(SettingsStyle::primaryTextColor(this), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(circle);
    }
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    }
}

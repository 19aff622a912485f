#pragma once

#include "preferences/PreferenceKeys.h"

#include <QAbstractButton>
#include <QIcon>
#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>

class QCheckBox;
class QLabel;
class QPushButton;
class QToolButton;
class UserDefaults;

// The controls the panes are built from, each bound live to the store: a control writes
// its key on every change and shows the stored value again whenever the key is written,
// wherever the write came from. None keeps a copy of a value.
namespace SettingsControls {

// Runs `refresh` now and after every write of one of `keys`, for as long as `context` lives.
void bindRefresh(QObject* context, UserDefaults& store, const QStringList& keys,
                 const std::function<void()>& refresh);

// A push button with room around its text whatever the widget style.
QPushButton* makeButton(const QString& text, QWidget* parent = nullptr, const QIcon& icon = {});

// A check box bound to a boolean key.
QCheckBox* makeToggle(const QString& text, const Preference<bool>& preference,
                      QWidget* parent = nullptr);

} // namespace SettingsControls

// A symbol image drawn in a colour computed at every paint, centred in its frame.
class SymbolView : public QWidget {
    Q_OBJECT
public:
    SymbolView(const QString& symbol, int symbolSize, std::function<QColor()> color,
               QWidget* parent = nullptr);

    QString symbol() const { return m_symbol; }
    void setSymbol(const QString& symbol);
    QColor color() const { return m_color(); }
    void setColor(std::function<QColor()> color);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_symbol;
    int m_symbolSize;
    std::function<QColor()> m_color;
};

// Up and down arrows that step an integer within a range, with an optional value label
// ("5s", "320px") beside them. Each step writes at once; the arrows stop at the bounds.
class Stepper : public QWidget {
    Q_OBJECT
public:
    struct Range {
        qint64 minimum;
        qint64 maximum;
        qint64 step;
    };

    // `suffix` empty and `valueLabelWidth` 0: no value label.
    Stepper(const QString& accessibleLabel, Range range, std::function<qint64()> read,
            std::function<void(qint64)> write, const QString& suffix = {}, int valueLabelWidth = 0,
            QWidget* parent = nullptr);

    QToolButton* incrementButton() const { return m_up; }
    QToolButton* decrementButton() const { return m_down; }
    QLabel* valueLabel() const { return m_valueLabel; }
    Range range() const { return m_range; }

    void stepUp();
    void stepDown();
    // Shows the value read now: label text and which arrows can still step.
    void refresh();

private:
    void stepBy(qint64 delta);

    Range m_range;
    std::function<qint64()> m_read;
    std::function<void(qint64)> m_write;
    QString m_suffix;
    QLabel* m_valueLabel = nullptr;
    QToolButton* m_up = nullptr;
    QToolButton* m_down = nullptr;
};

// A stepper on an integer key, refreshed whenever the key is written.
Stepper* makePreferenceStepper(const QString& accessibleLabel, const Preference<qint64>& preference,
                               Stepper::Range range, const QString& suffix, int valueLabelWidth,
                               QWidget* parent = nullptr);

// A leading label in a fixed-width frame, then the stepper with its value label, then
// an optional trailing widget.
QWidget* makeStepperRow(const QString& label, int labelWidth, Stepper* stepper,
                        QWidget* trailing = nullptr, QWidget* parent = nullptr);

// A labelled row of mutually exclusive segments bound to a text key. A stored value that
// matches no segment leaves every segment unselected.
class SegmentedPicker : public QWidget {
    Q_OBJECT
public:
    struct Option {
        QString title;
        QString value;
    };

    SegmentedPicker(const QString& label, QList<Option> options,
                    const Preference<QString>& preference, QWidget* parent = nullptr);

    QAbstractButton* segment(const QString& value) const;
    QList<QAbstractButton*> segments() const { return m_buttons; }
    // The value of the selected segment; empty when none is.
    QString selectedValue() const;
    void refresh();

private:
    QList<Option> m_options;
    Preference<QString> m_preference;
    QList<QAbstractButton*> m_buttons;
};

// A round colour swatch for one accent name; ringed while the stored accent is that name.
class AccentSwatch : public QAbstractButton {
    Q_OBJECT
public:
    AccentSwatch(const QString& name, const Preference<QString>& accentColor,
                 QWidget* parent = nullptr);

    QString name() const { return m_name; }
    bool isRinged() const;
    QSize sizeHint() const override { return {22, 22}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_name;
    Preference<QString> m_accentColor;
};

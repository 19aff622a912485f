#pragma once

#include "preferences/PreferenceKeys.h"

#include <QAbstractButton>
#include <QIcon>
#include <QList>
#include <QSpinBox>
#include <QString>
#include <QStringList>

#include <functional>

class QButtonGroup;
class QCheckBox;
class QLabel;
class QPushButton;
class UserDefaults;

// A spin box that takes any whole number typed and brings it into range on Return or when
// the focus leaves (100 in 0 to 72 becomes 72, -5 becomes 0) rather than refusing the
// keystroke that would leave the range, which turns 100 into 10.
class ClampingSpinBox : public QSpinBox {
public:
    using QSpinBox::QSpinBox;

protected:
    QValidator::State validate(QString& input, int& pos) const override;
    void fixup(QString& input) const override;

private:
    // What was typed between prefix and suffix; "?" when they are not there.
    QString typedText(const QString& input) const;
};

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

// A spin box over an integer key, offering the key's range in its steps. A stored value
// outside the range shows clamped, as every reader uses it, and is not written back
// until the user changes it; a typed one is clamped when the user is done.
QSpinBox* makeSpinBox(const QString& accessibleName, const Preference<qint64>& preference,
                      const QString& suffix, QWidget* parent = nullptr);

// A leading label in a fixed-width frame, the control, then an optional trailing widget.
QWidget* makeRow(const QString& label, int labelWidth, QWidget* control,
                 QWidget* trailing = nullptr, QWidget* parent = nullptr);

// A symbol drawn in `color` as a label's picture.
void setSymbol(QLabel* label, const QString& symbol, int size, const QColor& color);

} // namespace SettingsControls

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
    // The segment for a value; nothing when none has it.
    QAbstractButton* segment(const QString& value) const;

private:
    void refresh();

    QList<Option> m_options;
    Preference<QString> m_preference;
    QButtonGroup* m_group;
};

// A round colour swatch for one accent name; ringed while the stored accent is that name.
class AccentSwatch : public QAbstractButton {
    Q_OBJECT
public:
    AccentSwatch(const QString& name, const Preference<QString>& accentColor,
                 QWidget* parent = nullptr);

    QString name() const { return m_name; }
    bool isRinged() const;
    static constexpr int kSize = 30;
    QSize sizeHint() const override { return {kSize, kSize}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_name;
    Preference<QString> m_accentColor;
};

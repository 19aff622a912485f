#pragma once

#include <QColor>
#include <QFrame>
#include <QString>

class QLabel;
class UserDefaults;

// The titled card every pane is built from: an accent-coloured symbol and a headline
// title above the content, on the control background with rounded corners. A card is
// always enabled.
class PreferenceGroup : public QFrame {
    Q_OBJECT
public:
    PreferenceGroup(const QString& title, const QString& icon, QWidget* content,
                    UserDefaults& store, QWidget* parent = nullptr);

    // The accent colour in use, read from the store on every call.
    QColor groupAccentColor() const;

    static constexpr int kPadding = 16;
    static constexpr int kSpacing = 12;
    static constexpr int kCornerRadius = 10;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_icon;
    UserDefaults* m_store;
};

#pragma once

#include <QCheckBox>
#include <QColor>

// A label-less checkbox drawn in the accent colour when checked, the way tinted controls
// look on the desktop this app imitates; widget styles would ignore the tint.
class AccentCheckBox : public QCheckBox {
    Q_OBJECT
public:
    explicit AccentCheckBox(QWidget* parent = nullptr);

    void setAccent(const QColor& color);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;

private:
    QColor m_accent;
};

#pragma once

#include <QWidget>

// One line of text that shortens itself with a trailing ellipsis when narrower than the
// text, instead of pushing its neighbours out as QLabel would.
class ElidedLabel : public QWidget {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const { return m_text; }
    // The text as currently drawn (shortened when the width is too small).
    QString displayedText() const;

    void setTextColor(const QColor& color);
    QColor textColor() const { return m_color; }
    // Width below which the label never shrinks.
    void setMinimumTextWidth(int width);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QString m_text;
    QColor m_color;
    int m_minimumTextWidth = 0;
};

#include "SettingsView.h"

#include "Controls.h"
#include "Panes.h"
#include "SettingsStyle.h"

#include "engine/RunningAppsManager.h"
#include "preferences/AppIdentity.h"
#include "preferences/PreferenceKeys.h"
#include "preferences/Preferences.h"
#include "preferences/UserDefaults.h"
#include "ui/Accent.h"
#include "ui/Artwork.h"
#include "ui/Keyboard.h"
#include "ui/Style.h"
#include "ui/Symbols.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFocusEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

// One pane in the sidebar: symbol and title, filled with the accent while selected.
class SidebarRow : public QAbstractButton {
public:
    SidebarRow(SettingsPane pane, UserDefaults& store, QWidget* parent)
        : QAbstractButton(parent)
        , m_pane(pane)
        , m_store(store) {
        setCheckable(true);
        setText(SettingsPanes::title(pane));
        setAccessibleName(text());
        setFocusPolicy(Qt::TabFocus);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

    QSize sizeHint() const override {
        const int textHeight = fontMetrics().height();
        return {kPaddingH * 2 + kIconWidth + kSpacing + fontMetrics().horizontalAdvance(text()),
                kPaddingV * 2 + std::max(textHeight, kIconSize)};
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const bool selected = isChecked();
        const QColor accent =
            m_pane == SettingsPane::presets ? Preferences::goldColor() : accentColorInUse(m_store);
        if (selected) {
            QPainterPath path;
            path.addRoundedRect(QRectF(rect()), kCornerRadius, kCornerRadius);
            painter.fillPath(path, accent);
        }
        if (hasFocus() && m_keyboardFocus)
            Keyboard::drawFocusRing(painter, this, QRectF(rect()), kCornerRadius);
        const QColor iconColor = selected ? Style::textOn(accent) : accent;
        const QColor textColor =
            selected ? Style::textOn(accent) : SettingsStyle::primaryTextColor(this);

        const QRect iconFrame(kPaddingH, 0, kIconWidth, height());
        const QPixmap symbol =
            Symbols::pixmap(SettingsPanes::icon(m_pane), kIconSize, iconColor, devicePixelRatioF());
        const QSizeF drawn = QSizeF(symbol.size()) / symbol.devicePixelRatio();
        painter.drawPixmap(QPointF(iconFrame.center().x() + 1 - drawn.width() / 2,
                                   (height() - drawn.height()) / 2),
                           symbol);
        painter.setPen(textColor);
        const QRect textRect(iconFrame.right() + 1 + kSpacing, 0,
                             width() - iconFrame.right() - 1 - kSpacing - kPaddingH, height());
        painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
                         fontMetrics().elidedText(text(), Qt::ElideRight, textRect.width()));
    }

    void focusInEvent(QFocusEvent* event) override {
        // Outline only focus reached from the keyboard, not the window's initial focus.
        m_keyboardFocus =
            event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
        QAbstractButton::focusInEvent(event);
    }

private:
    static constexpr int kPaddingH = 12;
    static constexpr int kPaddingV = 8;
    static constexpr int kIconWidth = 18;
    static constexpr int kIconSize = 16;
    static constexpr int kSpacing = 10;
    static constexpr int kCornerRadius = 8;

    SettingsPane m_pane;
    UserDefaults& m_store;
    bool m_keyboardFocus = false;
};

// The pane's symbol on a faint accent tile.
class PaneBadge : public QWidget {
public:
    PaneBadge(UserDefaults& store, QWidget* parent)
        : QWidget(parent)
        , m_store(store) {
        setFixedSize(34, 34);
    }

    void setPane(SettingsPane pane) {
        m_pane = pane;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor accent = accentColorInUse(m_store);
        QColor fill = accent;
        fill.setAlphaF(0.14f);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), 8, 8);
        painter.fillPath(path, fill);
        const QPixmap symbol =
            Symbols::pixmap(SettingsPanes::icon(m_pane), 22, accent, devicePixelRatioF());
        const QSizeF drawn = QSizeF(symbol.size()) / symbol.devicePixelRatio();
        painter.drawPixmap(QPointF((width() - drawn.width()) / 2, (height() - drawn.height()) / 2),
                           symbol);
    }

private:
    UserDefaults& m_store;
    SettingsPane m_pane = SettingsPane::general;
};

QWidget* buildPane(SettingsPane pane, RunningAppsManager& manager,
                   LaunchAtLogin::Observable& launchAtLogin) {
    switch (pane) {
    case SettingsPane::general:
        return Panes::general(manager, launchAtLogin);
    case SettingsPane::presets:
        return Panes::presets(manager);
    case SettingsPane::behavior:
        return Panes::behavior(manager);
    case SettingsPane::appearance:
        return Panes::appearance(manager);
    case SettingsPane::trayIcon:
        return Panes::trayIcon(manager);
    case SettingsPane::exclusions:
        return Panes::exclusions(manager);
    case SettingsPane::appTimeouts:
        return Panes::appTimeouts(manager);
    case SettingsPane::advanced:
        return Panes::advanced(manager);
    case SettingsPane::support:
        return Panes::support(manager);
    }
    return new QWidget;
}

constexpr int kSidebarWidth = 206;
constexpr int kDetailPadding = 28;

} // namespace

SettingsView::SettingsView(RunningAppsManager& manager, LaunchAtLogin::Observable& launchAtLogin,
                           SettingsPane initialPane, QWidget* parent)
    : QWidget(parent)
    , m_manager(manager) {
    Keyboard::pressButtonsOnReturn();
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    layout->addWidget(buildSidebar());
    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::VLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setFixedWidth(1);
    QPalette dividerPalette = divider->palette();
    dividerPalette.setColor(QPalette::WindowText, palette().color(QPalette::Mid));
    divider->setPalette(dividerPalette);
    layout->addWidget(divider);

    // The pane's header stays in place; below it each pane scrolls on its own, so a short
    // pane never scrolls as far as the tallest one.
    auto* detail = new QVBoxLayout;
    detail->setContentsMargins(0, kDetailPadding, 0, 0);
    detail->setSpacing(0);
    QWidget* header = buildPaneHeader();
    header->setContentsMargins(kDetailPadding, 0, kDetailPadding, 0);
    detail->addWidget(header);
    m_panes = new QStackedWidget(this);
    for (SettingsPane pane : SettingsPanes::all()) {
        auto* page = new QWidget;
        auto* pageLayout = new QVBoxLayout(page);
        pageLayout->setContentsMargins(kDetailPadding, 18, kDetailPadding, kDetailPadding);
        pageLayout->addWidget(buildPane(pane, manager, launchAtLogin));
        pageLayout->addStretch(1);
        auto* scroll = new QScrollArea;
        // Focus moves through the controls, which scroll into view; the area itself is no
        // stop that would show nothing.
        scroll->setFocusPolicy(Qt::NoFocus);
        scroll->setWidget(page);
        scroll->setWidgetResizable(true);
        scroll->setFrameShape(QFrame::NoFrame);
        m_panes->addWidget(scroll);
    }
    detail->addWidget(m_panes, 1);
    layout->addLayout(detail, 1);

    // The accent tints the whole view; redraw everything that carries it when it changes.
    SettingsControls::bindRefresh(
        this, manager.defaults(), {QString::fromLatin1(Keys::accentColor.name)}, [this] {
            QPalette tinted = palette();
            const QColor accent = accentColorInUse(m_manager.defaults());
            tinted.setColor(QPalette::Highlight, accent);
            tinted.setColor(QPalette::HighlightedText, Style::textOn(accent));
            setPalette(tinted);
            for (QAbstractButton* row : m_sidebarRows->buttons())
                row->update();
            m_badge->update();
        });
    connect(m_sidebarRows, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked)
            showSelectedPane();
    });
    m_sidebarRows->button(static_cast<int>(initialPane))->setChecked(true);
    for (QWidget* control : findChildren<QWidget*>())
        if (qobject_cast<QCheckBox*>(control) || qobject_cast<QPushButton*>(control) ||
            qobject_cast<QAbstractSpinBox*>(control))
            control->setStyle(SettingsStyle::controlStyle());
}

SettingsPane SettingsView::selectedPane() const {
    return static_cast<SettingsPane>(m_sidebarRows->checkedId());
}

void SettingsView::setSelectedPane(SettingsPane pane) {
    m_sidebarRows->button(static_cast<int>(pane))->setChecked(true);
}

QAbstractButton* SettingsView::sidebarButton(SettingsPane pane) const {
    return m_sidebarRows->button(static_cast<int>(pane));
}

QWidget* SettingsView::paneBody(SettingsPane pane) const {
    const auto* scroll = static_cast<QScrollArea*>(m_panes->widget(static_cast<int>(pane)));
    return scroll->widget()->layout()->itemAt(0)->widget();
}

QWidget* SettingsView::buildSidebar() {
    m_sidebar = new QWidget(this);
    m_sidebar->setFixedWidth(kSidebarWidth);
    m_sidebar->setAutoFillBackground(true);
    QPalette sidebarPalette = m_sidebar->palette();
    sidebarPalette.setColor(QPalette::Window, SettingsStyle::controlBackgroundColor(this));
    m_sidebar->setPalette(sidebarPalette);

    auto* layout = new QVBoxLayout(m_sidebar);
    layout->setContentsMargins(12, 0, 12, 12);
    layout->setSpacing(8);

    auto* header = new QWidget(m_sidebar);
    auto* headerLayout = new QHBoxLayout(header);
    // The sidebar's own 12 points of horizontal padding come on top of the header's 14.
    headerLayout->setContentsMargins(14, 18, 14, 8);
    headerLayout->setSpacing(10);
    auto* image = new QLabel(header);
    image->setFixedSize(34, 34);
    image->setPixmap(Artwork::image(34, devicePixelRatioF()));
    image->setScaledContents(true);
    headerLayout->addWidget(image, 0, Qt::AlignVCenter);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(SettingsStyle::makeLabel(QLatin1String(kAppDisplayName),
                                              SettingsStyle::headlineFont(), false, header));
    texts->addWidget(
        SettingsStyle::makeLabel(versionText(), SettingsStyle::captionFont(), true, header));
    headerLayout->addLayout(texts, 1);
    layout->addWidget(header);

    // A row's id, like the stack's index, is its pane's value: all() lists them in order.
    m_sidebarRows = new QButtonGroup(this);
    for (SettingsPane pane : SettingsPanes::all()) {
        auto* row = new SidebarRow(pane, m_manager.defaults(), m_sidebar);
        m_sidebarRows->addButton(row, static_cast<int>(pane));
        layout->addWidget(row);
    }
    layout->addStretch(1);
    return m_sidebar;
}

QWidget* SettingsView::buildPaneHeader() {
    auto* header = new QWidget;
    auto* layout = new QHBoxLayout(header);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    m_badge = new PaneBadge(m_manager.defaults(), header);
    layout->addWidget(m_badge, 0, Qt::AlignVCenter);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    m_paneTitle =
        SettingsStyle::makeLabel(QString(), SettingsStyle::largeTitleFont(), false, header);
    m_paneSubtitle =
        SettingsStyle::makeLabel(QString(), SettingsStyle::calloutFont(), true, header);
    m_paneSubtitle->setWordWrap(true);
    texts->addWidget(m_paneTitle);
    texts->addWidget(m_paneSubtitle);
    layout->addLayout(texts, 1);
    return header;
}

void SettingsView::showSelectedPane() {
    const SettingsPane pane = selectedPane();
    m_paneTitle->setText(SettingsPanes::title(pane));
    m_paneSubtitle->setText(SettingsPanes::subtitle(pane));
    static_cast<PaneBadge*>(m_badge)->setPane(pane);
    // Hiding the focused control of the old pane would pass the focus on as if by Tab,
    // and the sidebar would outline a row the keyboard never reached.
    if (QWidget* focus = QApplication::focusWidget(); focus && m_panes->isAncestorOf(focus))
        sidebarButton(pane)->setFocus(Qt::OtherFocusReason);
    m_panes->setCurrentIndex(static_cast<int>(pane));
    for (QAbstractButton* row : m_sidebarRows->buttons())
        row->update();
}

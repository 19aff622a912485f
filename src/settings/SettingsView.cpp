#include "SettingsView.h"

#include "AdvancedPane.h"
#include "AppearancePane.h"
#include "BehaviorPane.h"
#include "Controls.h"
#include "ExclusionsPane.h"
#include "GeneralPane.h"
#include "MenuBarPane.h"
#include "PreferenceGroup.h"
#include "PresetsPane.h"
#include "SettingsStyle.h"
#include "SupportPane.h"

#include "engine/RunningAppsManager.h"
#include "preferences/AppIdentity.h"
#include "preferences/Preferences.h"
#include "preferences/UserDefaults.h"
#include "ui/Accent.h"
#include "ui/Artwork.h"
#include "ui/Symbols.h"

#include <QAbstractButton>
#include <QFocusEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

// One pane in the sidebar: symbol and title, filled with the accent while selected.
class SidebarRow : public QAbstractButton {
public:
    SidebarRow(SettingsPane pane, SettingsView& view)
        : QAbstractButton(&view)
        , m_pane(pane)
        , m_view(view) {
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
        const bool selected = m_view.selectedPane() == m_pane;
        const QColor accent =
            m_pane == SettingsPane::presets ? Preferences::goldColor() : m_view.accentColor();
        if (selected) {
            QPainterPath path;
            path.addRoundedRect(QRectF(rect()), kCornerRadius, kCornerRadius);
            painter.fillPath(path, accent);
        } else if (hasFocus() && m_keyboardFocus) {
            painter.setPen(QPen(accent, 1));
            painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kCornerRadius,
                                    kCornerRadius);
        }
        const QColor iconColor = selected ? QColor(Qt::white) : accent;
        const QColor textColor =
            selected ? QColor(Qt::white) : SettingsStyle::primaryTextColor(this);

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
    SettingsView& m_view;
    bool m_keyboardFocus = false;
};

// The pane's symbol on a faint accent tile.
class PaneBadge : public QWidget {
public:
    PaneBadge(SettingsView& view)
        : QWidget(&view)
        , m_view(view) {
        setFixedSize(34, 34);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor fill = m_view.accentColor();
        fill.setAlphaF(0.14f);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), 8, 8);
        painter.fillPath(path, fill);
        const QPixmap symbol = Symbols::pixmap(SettingsPanes::icon(m_view.selectedPane()), 22,
                                               m_view.accentColor(), devicePixelRatioF());
        const QSizeF drawn = QSizeF(symbol.size()) / symbol.devicePixelRatio();
        painter.drawPixmap(QPointF((width() - drawn.width()) / 2, (height() - drawn.height()) / 2),
                           symbol);
    }

private:
    SettingsView& m_view;
};

} // namespace

SettingsView::SettingsView(RunningAppsManager& manager, SettingsPane initialPane, QWidget* parent)
    : QWidget(parent)
    , m_manager(&manager)
    , m_selectedPane(initialPane) {
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

    auto* detail = new QWidget;
    auto* detailLayout = new QVBoxLayout(detail);
    detailLayout->setContentsMargins(kDetailPadding, kDetailPadding, kDetailPadding,
                                     kDetailPadding);
    detailLayout->setSpacing(kDetailSpacing);
    detailLayout->addWidget(buildPaneHeader());
    for (SettingsPane pane : SettingsPanes::all()) {
        QWidget* body = buildPaneBody(pane);
        body->setParent(detail);
        m_paneBodies.insert(pane, body);
        detailLayout->addWidget(body);
    }
    detailLayout->addStretch(1);

    m_scrollArea = new QScrollArea(this);
    m_scrollArea->setWidget(detail);
    m_scrollArea->setWidgetResizable(true);
    m_scrollArea->setFrameShape(QFrame::NoFrame);
    m_scrollArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    layout->addWidget(m_scrollArea, 1);

    // The accent tints the whole view; redraw everything that carries it when it changes.
    SettingsControls::bindRefresh(this, store(), {QString::fromLatin1(Keys::accentColor.name)},
                                  [this] {
                                      QPalette tinted = palette();
                                      tinted.setColor(QPalette::Highlight, accentColor());
                                      setPalette(tinted);
                                      repaintAccentParts();
                                  });
    showSelectedPane();

    Preferences::migrateIdleTimePreferenceIfNeeded(store());
}

SettingsView::~SettingsView() {
    // The panes refer to this view: take them down while it is still whole.
    delete m_scrollArea;
    m_scrollArea = nullptr;
    m_paneBodies.clear();
}

UserDefaults& SettingsView::store() const {
    return m_manager->defaults();
}

QColor SettingsView::accentColor() const {
    return accentColorInUse(store());
}

void SettingsView::setSelectedPane(SettingsPane pane) {
    if (pane == m_selectedPane)
        return;
    m_selectedPane = pane;
    showSelectedPane();
    emit selectedPaneChanged(pane);
}

void SettingsView::setSelectedExclusionID(std::optional<QString> id) {
    if (id == m_selectedExclusionID)
        return;
    m_selectedExclusionID = std::move(id);
    emit selectedExclusionIDChanged();
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
    m_versionLabel = SettingsStyle::makeLabel(appVersion() + QStringLiteral(" (") +
                                                  appBuildNumber() + QLatin1Char(')'),
                                              SettingsStyle::captionFont(), true, header);
    texts->addWidget(m_versionLabel);
    headerLayout->addLayout(texts, 1);
    layout->addWidget(header);

    for (SettingsPane pane : SettingsPanes::all()) {
        auto* row = new SidebarRow(pane, *this);
        row->setParent(m_sidebar);
        connect(row, &QAbstractButton::clicked, this, [this, pane] { setSelectedPane(pane); });
        m_sidebarButtons.insert(pane, row);
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
    m_badge = new PaneBadge(*this);
    m_badge->setParent(header);
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

QWidget* SettingsView::buildPaneBody(SettingsPane pane) {
    switch (pane) {
    case SettingsPane::general:
        return new GeneralPane(*this);
    case SettingsPane::presets:
        return new PresetsPane(*this);
    case SettingsPane::behavior:
        return new BehaviorPane(*this);
    case SettingsPane::appearance:
        return new AppearancePane(*this);
    case SettingsPane::menuBar:
        return new MenuBarPane(*this);
    case SettingsPane::exclusions:
        return new ExclusionsPane(*this);
    case SettingsPane::advanced:
        return new AdvancedPane(*this);
    case SettingsPane::support:
        return new SupportPane(*this);
    }
    return new QWidget;
}

void SettingsView::showSelectedPane() {
    m_paneTitle->setText(SettingsPanes::title(m_selectedPane));
    m_paneSubtitle->setText(paneSubtitle());
    for (auto it = m_paneBodies.cbegin(); it != m_paneBodies.cend(); ++it)
        it.value()->setVisible(it.key() == m_selectedPane);
    if (m_scrollArea)
        m_scrollArea->ensureVisible(0, 0);
    repaintAccentParts();
}

void SettingsView::repaintAccentParts() {
    for (QAbstractButton* row : std::as_const(m_sidebarButtons))
        row->update();
    if (m_badge)
        m_badge->update();
}

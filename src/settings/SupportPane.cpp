#include "SupportPane.h"

#include "Controls.h"
#include "PreferenceGroup.h"
#include "SettingsStyle.h"
#include "SettingsView.h"

#include "BuildInfo.h"
#include "engine/RunningAppsManager.h"
#include "preferences/AppIdentity.h"
#include "preferences/PreferenceKeys.h"
#include "preferences/Preferences.h"
#include "ui/Artwork.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
std::optional<QString>& versionOverride() {
    static std::optional<QString> value;
    return value;
}
std::optional<QString>& buildOverride() {
    static std::optional<QString> value;
    return value;
}
std::function<bool(const QUrl&)>& urlOpener() {
    static std::function<bool(const QUrl&)> opener;
    return opener;
}
} // namespace

QString appVersion() {
    return versionOverride().value_or(QString::fromLatin1(kAppVersion));
}

QString appBuildNumber() {
    return buildOverride().value_or(QString::fromLatin1(kAppBuildNumber));
}

void overrideAppVersion(std::optional<QString> version, std::optional<QString> build) {
    versionOverride() = std::move(version);
    buildOverride() = std::move(build);
}

QString diagnosticsText(const RunningAppsManager& manager) {
    UserDefaults& store = manager.defaults();
    return QStringLiteral("Idlewatch ") + appVersion() + QStringLiteral(" (") + appBuildNumber() +
           QStringLiteral(")\nTracked apps: ") + QString::number(manager.runningApps().size()) +
           QStringLiteral("\nExclusions: ") + QString::number(manager.excludedApps().size()) +
           QStringLiteral("\nQuitting enabled: ") +
           (Preference<bool>(store, Keys::quittingEnabled)() ? QStringLiteral("true")
                                                             : QStringLiteral("false")) +
           QStringLiteral("\nIdle timeout: ") +
           Preferences::formattedIdleTime(Preference<qint64>(store, Keys::minutesUntilClose)()) +
           QStringLiteral("\nRefresh seconds: ") +
           QString::number(Preference<qint64>(store, Keys::openAppsRefreshSeconds)());
}

void openURL(const QString& address) {
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative())
        return;
    if (const auto& opener = urlOpener())
        opener(url);
    else
        QDesktopServices::openUrl(url);
}

void setUrlOpener(std::function<bool(const QUrl&)> opener) {
    urlOpener() = std::move(opener);
}

SupportPane::SupportPane(SettingsView& view, QWidget* parent)
    : QWidget(parent)
    , m_view(view) {
    auto* about = new QWidget;
    auto* aboutRow = new QHBoxLayout(about);
    aboutRow->setContentsMargins(0, 0, 0, 0);
    aboutRow->setSpacing(14);
    auto* image = new QLabel(about);
    image->setFixedSize(76, 76);
    image->setPixmap(Artwork::image(76, devicePixelRatioF()));
    image->setScaledContents(true);
    aboutRow->addWidget(image, 0, Qt::AlignVCenter);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addWidget(SettingsStyle::makeLabel(QLatin1String(kAppDisplayName),
                                              SettingsStyle::title2Font(), false, about));
    m_version =
        SettingsStyle::makeLabel(QStringLiteral("Version ") + appVersion() + QStringLiteral(" (") +
                                     appBuildNumber() + QLatin1Char(')'),
                                 SettingsStyle::bodyFont(), true, about);
    texts->addWidget(m_version);
    auto* tagline = SettingsStyle::makeLabel(
        QStringLiteral("Local-first menu bar app for automatic app quitting."),
        SettingsStyle::bodyFont(), true, about);
    tagline->setWordWrap(true);
    texts->addWidget(tagline);
    aboutRow->addLayout(texts, 1);

    auto* links = new QWidget;
    auto* linksRow = new QHBoxLayout(links);
    linksRow->setContentsMargins(0, 0, 0, 0);
    m_website = SettingsControls::makeButton(QStringLiteral("Website"), links);
    m_download = SettingsControls::makeButton(QStringLiteral("Download DMG"), links);
    linksRow->addWidget(m_website, 0, Qt::AlignVCenter);
    linksRow->addWidget(m_download, 0, Qt::AlignVCenter);
    linksRow->addStretch(1);
    connect(m_website, &QPushButton::clicked, this,
            [] { openURL(QString::fromLatin1(kWebsiteAddress)); });
    connect(m_download, &QPushButton::clicked, this,
            [] { openURL(QString::fromLatin1(kDownloadAddress)); });

    auto* diagnostics = new QWidget;
    auto* diagnosticsRows = new QVBoxLayout(diagnostics);
    diagnosticsRows->setContentsMargins(0, 0, 0, 0);
    m_copy = SettingsControls::makeButton(QStringLiteral("Copy diagnostics"), diagnostics);
    diagnosticsRows->addWidget(m_copy, 0, Qt::AlignLeft);
    m_count = SettingsStyle::makeLabel(QString(), SettingsStyle::captionFont(), true, diagnostics);
    diagnosticsRows->addWidget(m_count);
    connect(m_copy, &QPushButton::clicked, this, &SupportPane::copyDiagnostics);
    connect(&view.manager(), &RunningAppsManager::runningAppsChanged, this,
            &SupportPane::refreshCounts);
    connect(&view.manager(), &RunningAppsManager::excludedAppsChanged, this,
            &SupportPane::refreshCounts);
    refreshCounts();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(SettingsView::kPaneSpacing);
    layout->addWidget(new PreferenceGroup(QStringLiteral("About"), QStringLiteral("info.circle"),
                                          about, view.store(), this));
    layout->addWidget(new PreferenceGroup(QStringLiteral("Links"), QStringLiteral("link"), links,
                                          view.store(), this));
    layout->addWidget(new PreferenceGroup(QStringLiteral("Diagnostics"),
                                          QStringLiteral("doc.on.clipboard"), diagnostics,
                                          view.store(), this));
}

void SupportPane::copyDiagnostics() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(diagnosticsText(m_view.manager()));
}

void SupportPane::refreshCounts() {
    const RunningAppsManager& manager = m_view.manager();
    m_count->setText(QStringLiteral("%1 tracked apps, %2 exclusions")
                         .arg(manager.runningApps().size())
                         .arg(manager.excludedApps().size()));
}

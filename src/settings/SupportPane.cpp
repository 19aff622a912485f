#include "Panes.h"

#include "Controls.h"
#include "PreferenceGroup.h"
#include "SettingsStyle.h"

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

// Version and identity, the two links and the diagnostics text for a bug report.
QWidget* Panes::support(RunningAppsManager& manager) {
    using SettingsControls::makeButton;
    auto* about = new QWidget;
    auto* aboutRow = new QHBoxLayout(about);
    aboutRow->setContentsMargins(0, 0, 0, 0);
    aboutRow->setSpacing(14);
    auto* image = new QLabel;
    image->setFixedSize(76, 76);
    image->setPixmap(Artwork::image(76, image->devicePixelRatioF()));
    image->setScaledContents(true);
    aboutRow->addWidget(image, 0, Qt::AlignVCenter);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addWidget(SettingsStyle::makeLabel(QLatin1String(kAppDisplayName),
                                              SettingsStyle::title2Font(), false));
    texts->addWidget(SettingsStyle::makeLabel(QStringLiteral("Version ") + appVersion() +
                                                  QStringLiteral(" (") + appBuildNumber() +
                                                  QLatin1Char(')'),
                                              SettingsStyle::bodyFont(), true));
    auto* tagline = SettingsStyle::makeLabel(
        QStringLiteral("Local-first menu bar app for automatic app quitting."),
        SettingsStyle::bodyFont(), true);
    tagline->setWordWrap(true);
    texts->addWidget(tagline);
    aboutRow->addLayout(texts, 1);

    auto* links = new QWidget;
    auto* linksRow = new QHBoxLayout(links);
    linksRow->setContentsMargins(0, 0, 0, 0);
    auto* website = makeButton(QStringLiteral("Website"));
    auto* download = makeButton(QStringLiteral("Download DMG"));
    linksRow->addWidget(website, 0, Qt::AlignVCenter);
    linksRow->addWidget(download, 0, Qt::AlignVCenter);
    linksRow->addStretch(1);
    QObject::connect(website, &QPushButton::clicked, website,
                     [] { openURL(QString::fromLatin1(kWebsiteAddress)); });
    QObject::connect(download, &QPushButton::clicked, download,
                     [] { openURL(QString::fromLatin1(kDownloadAddress)); });

    auto* diagnostics = new QWidget;
    auto* diagnosticsRows = new QVBoxLayout(diagnostics);
    diagnosticsRows->setContentsMargins(0, 0, 0, 0);
    auto* copy = makeButton(QStringLiteral("Copy diagnostics"));
    diagnosticsRows->addWidget(copy, 0, Qt::AlignLeft);
    auto* count = SettingsStyle::makeLabel(QString(), SettingsStyle::captionFont(), true);
    diagnosticsRows->addWidget(count);
    QObject::connect(copy, &QPushButton::clicked, copy, [&manager] {
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->clear();
        clipboard->setText(diagnosticsText(manager));
    });
    const auto refreshCount = [count, &manager] {
        count->setText(QStringLiteral("%1 tracked apps, %2 exclusions")
                           .arg(manager.runningApps().size())
                           .arg(manager.excludedApps().size()));
    };
    QObject::connect(&manager, &RunningAppsManager::runningAppsChanged, count, refreshCount);
    QObject::connect(&manager, &RunningAppsManager::excludedAppsChanged, count, refreshCount);
    refreshCount();

    auto* pane = new QWidget;
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(SettingsStyle::kPaneSpacing);
    UserDefaults& store = manager.defaults();
    layout->addWidget(
        new PreferenceGroup(QStringLiteral("About"), QStringLiteral("info.circle"), about, store));
    layout->addWidget(
        new PreferenceGroup(QStringLiteral("Links"), QStringLiteral("link"), links, store));
    layout->addWidget(new PreferenceGroup(QStringLiteral("Diagnostics"),
                                          QStringLiteral("doc.on.clipboard"), diagnostics, store));
    return pane;
}

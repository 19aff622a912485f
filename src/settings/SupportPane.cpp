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
#include <QUrl>
#include <QVBoxLayout>

QString versionText() {
    const QString build = QString::fromLatin1(kAppBuildNumber);
    return QString::fromLatin1(kAppVersion) +
           (build.isEmpty() ? QString() : QStringLiteral(" (") + build + QLatin1Char(')'));
}

namespace {
// "1 tracked app", "2 tracked apps".
QString count(qsizetype n, const QString& one, const QString& many) {
    return QString::number(n) + QLatin1Char(' ') + (n == 1 ? one : many);
}
} // namespace

QString diagnosticsText(const RunningAppsManager& manager) {
    UserDefaults& store = manager.defaults();
    return QStringLiteral("Idlewatch ") + versionText() + QStringLiteral("\nTracked apps: ") +
           QString::number(manager.runningApps().size()) + QStringLiteral("\nExclusions: ") +
           QString::number(manager.excludedApps().size()) + QStringLiteral("\nQuitting enabled: ") +
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
    QDesktopServices::openUrl(url);
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
    texts->addWidget(SettingsStyle::makeLabel(QStringLiteral("Version ") + versionText(),
                                              SettingsStyle::bodyFont(), true));
    auto* tagline = SettingsStyle::makeLabel(
        QStringLiteral("Quits the apps you have stopped using. It runs on this computer "
                       "alone and sends nothing anywhere."),
        SettingsStyle::bodyFont(), true);
    tagline->setWordWrap(true);
    texts->addWidget(tagline);
    aboutRow->addLayout(texts, 1);

    auto* links = new QWidget;
    auto* linksRow = new QHBoxLayout(links);
    linksRow->setContentsMargins(0, 0, 0, 0);
    auto* website = makeButton(QStringLiteral("Website"));
    auto* download = makeButton(QStringLiteral("Linux packages"));
    download->setToolTip(QStringLiteral("The releases page, with the packages of each version"));
    linksRow->addWidget(website, 0, Qt::AlignVCenter);
    linksRow->addWidget(download, 0, Qt::AlignVCenter);
    linksRow->addStretch(1);
    QObject::connect(website, &QPushButton::clicked, website,
                     [] { openURL(QString::fromLatin1(kWebsiteAddress)); });
    QObject::connect(download, &QPushButton::clicked, download,
                     [] { openURL(QString::fromLatin1(kReleasesAddress)); });

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
        count->setText(::count(manager.runningApps().size(), QStringLiteral("tracked app"),
                               QStringLiteral("tracked apps")) +
                       QStringLiteral(", ") +
                       ::count(manager.excludedApps().size(), QStringLiteral("exclusion"),
                               QStringLiteral("exclusions")));
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

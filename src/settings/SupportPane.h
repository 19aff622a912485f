#pragma once

#include <QString>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QPushButton;
class RunningAppsManager;
class SettingsView;

// Version and identity, the two links and the diagnostics text for a bug report.
class SupportPane : public QWidget {
    Q_OBJECT
public:
    explicit SupportPane(SettingsView& view, QWidget* parent = nullptr);

    QLabel* versionLabel() const { return m_version; }
    QLabel* countLabel() const { return m_count; }
    QPushButton* websiteButton() const { return m_website; }
    QPushButton* downloadButton() const { return m_download; }
    QPushButton* copyDiagnosticsButton() const { return m_copy; }

    void copyDiagnostics();

private:
    void refreshCounts();

    SettingsView& m_view;
    QLabel* m_version = nullptr;
    QLabel* m_count = nullptr;
    QPushButton* m_website = nullptr;
    QPushButton* m_download = nullptr;
    QPushButton* m_copy = nullptr;
};

inline constexpr char kWebsiteAddress[] = "https://idlewatch.app/";
inline constexpr char kDownloadAddress[] = "https://idlewatch.app/downloads/Idlewatch-1.0.dmg";

// The version and build number of this build, read afresh at each use.
QString appVersion();
QString appBuildNumber();
// Replaces the build's values (tests); nothing restores the build's own value.
void overrideAppVersion(std::optional<QString> version, std::optional<QString> build);

// Six lines: name with version and build, tracked apps, exclusions, quitting enabled, idle
// timeout, refresh seconds; no line break at the end.
QString diagnosticsText(const RunningAppsManager& manager);

// Opens an address in the user's browser; text that is not an absolute URL is ignored.
void openURL(const QString& address);
// Replaces the browser hand-off (tests); an empty function restores QDesktopServices.
void setUrlOpener(std::function<bool(const QUrl&)> opener);

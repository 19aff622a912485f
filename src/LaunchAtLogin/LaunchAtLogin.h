#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

// Idlewatch as a login item: an XDG autostart entry
// $XDG_CONFIG_HOME/autostart/com.Idlewatch.Idlewatch.desktop. The file system is the only
// truth; nothing is cached between calls.
namespace LaunchAtLogin {

// The argument the autostart entry passes, so a login launch can be told from the user's.
inline constexpr char kLaunchedAtLoginArgument[] = "--launched-at-login";

// True when the entry is present, parses as a desktop entry, is not Hidden=true and not
// X-GNOME-Autostart-enabled=false. Read afresh on every call.
bool isEnabled();
// Registers (re-registers when already enabled) or removes the entry. A failure is logged
// under "com.Idlewatch.Idlewatch.main" and never thrown; isEnabled() then tells the truth.
void setEnabled(bool enabled);

// True when this process was started with the login marker argument.
bool wasLaunchedAtLogin();
bool wasLaunchedAtLogin(const QStringList& arguments);

// $XDG_CONFIG_HOME/autostart (XDG_CONFIG_HOME defaults to ~/.config when unset or relative).
QString autostartFolder();
QString autostartFilePath();

// The entry text that starts `executablePath` with the login marker.
QString autostartEntry(const QString& executablePath);
// One Exec argument quoted by the Desktop Entry rules, before the string-value escaping.
QString quoteExecArgument(const QString& argument);

// The switch model: reads and writes isEnabled(). It announces `changed` after every write
// so that every switch over it shows the state the system then has. The program makes one
// and hands it to each switch.
class Observable : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isEnabled READ isEnabled WRITE setEnabled NOTIFY changed)
public:
    explicit Observable(QObject* parent = nullptr)
        : QObject(parent) {}

    bool isEnabled() const { return LaunchAtLogin::isEnabled(); }
    void setEnabled(bool enabled);

signals:
    void changed();
};

} // namespace LaunchAtLogin

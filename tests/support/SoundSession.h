#pragma once

#include "Session.h"

#include <QFile>

#include <csignal>

// A private PulseAudio server with one null sink, on a socket in the session's tree, that
// can be stopped and started again as a server restart would.
class SoundSession : public Session {
public:
    bool start() { return (m_dir || prepare()) && startServer(); }
    bool startServer() {
        const QString socket = path("runtime") + "/pulse.sock";
        // Anonymous: the test's own user may be another than the server's.
        m_server = spawn({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                          "--use-pid-file=no", "--disallow-exit", "--load=module-null-sink",
                          "--load=module-native-protocol-unix auth-anonymous=1 socket=" + socket});
        m_env.insert("PULSE_SERVER", "unix:" + socket);
        return (m_server > 0 && waitFor([&] { return QFile::exists(socket); }, 10000)) ||
               fail("pulseaudio did not start: " + logText());
    }
    void stopServer() {
        if (m_server > 0 && ::kill(m_server, SIGTERM) == 0)
            waitForExit(m_server, 10000);
        QFile::remove(path("runtime") + "/pulse.sock");
        m_server = -1;
    }
    QByteArray server() const { return m_env.value("PULSE_SERVER").toLocal8Bit(); }

private:
    pid_t m_server = -1;
};

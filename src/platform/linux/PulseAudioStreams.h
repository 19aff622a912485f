#pragma once

#include <QByteArray>
#include <QSet>
#include <QtGlobal>

#include <memory>

// The playback streams of the sound server (PulseAudio, or PipeWire's PulseAudio server),
// followed on a thread of their own: which processes play sound right now. It connects
// when a server is there, follows every change of the streams, and connects again when
// the server restarts. Without a server it says so in the log once and reports nothing.
class PulseAudioStreams {
public:
    // `server` as libpulse takes it ("unix:/path"); empty: the user's own server.
    explicit PulseAudioStreams(const QByteArray& server = {});
    ~PulseAudioStreams();
    PulseAudioStreams(const PulseAudioStreams&) = delete;
    PulseAudioStreams& operator=(const PulseAudioStreams&) = delete;

    // The processes of the uncorked streams ("application.process.id") with their
    // ancestors: a browser plays from a helper process, a terminal from its job.
    QSet<qint64> playingProcessIds() const;
    bool isConnected() const;

    struct Private;

private:
    std::unique_ptr<Private> d;
};

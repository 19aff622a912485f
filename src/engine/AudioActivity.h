#pragma once

#include <QSet>
#include <QtGlobal>

// Which local processes play sound, as the desktop's sound server tells it. The engine asks
// at every sweep and for every row, so an implementation answers from what it keeps up to
// date rather than asking its server each time.
class AudioActivity {
public:
    virtual ~AudioActivity() = default;
    // Processes with a playback stream that is not paused (corked); empty without a server.
    virtual QSet<qint64> playingProcessIds() const = 0;
};

#pragma once

#include "engine/AudioActivity.h"
#include "engine/MemoryUsage.h"
#include "platform/linux/ProcessMemory.h"
#include "platform/linux/PulseAudioStreams.h"

// The engine's sound and memory seams, answered by the Linux platform.
class SoundServerActivity final : public AudioActivity {
public:
    explicit SoundServerActivity(const QByteArray& server = {})
        : m_streams(server) {}
    QSet<qint64> playingProcessIds() const override { return m_streams.playingProcessIds(); }
    const PulseAudioStreams& streams() const { return m_streams; }

private:
    PulseAudioStreams m_streams;
};

class ProcMemoryUsage final : public MemoryUsage {
public:
    std::optional<qint64> bytesOf(const QList<qint64>& processIds) const override {
        return ProcessMemory::pssBytes(processIds);
    }
};

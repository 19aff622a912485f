#include "PulseAudioStreams.h"

#include "ProcessControl.h"

#include <QHash>
#include <QLoggingCategory>

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

#include <mutex>

Q_LOGGING_CATEGORY(lcAudio, "com.Idlewatch.Idlewatch.audio", QtInfoMsg)

namespace {
// Often enough that music started after a server restart is seen before a sweep asks.
constexpr pa_usec_t kReconnectAfter = 2 * PA_USEC_PER_SEC;

// A call that fails (its context gone bad) gives no operation; the context's state says why.
void release(pa_operation* operation) {
    if (operation)
        pa_operation_unref(operation);
}
} // namespace

// Everything below runs on the mainloop's thread, with its lock held, except where a
// function takes the lock itself; `mutex` guards what the main thread reads.
struct PulseAudioStreams::Private {
    QByteArray server;
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    bool toldMissing = false;

    // Stream index -> its process, for the streams that play (are not corked).
    QHash<quint32, qint64> playingStreams;

    mutable std::mutex mutex;
    QSet<qint64> playing;
    bool connected = false;

    void connect();
    void scheduleReconnect();
    void dropContext();
    void publish();
    static void stateChanged(pa_context* c, void* self);
    static void streamEvent(pa_context* c, pa_subscription_event_type_t type, uint32_t index,
                            void* self);
    static void streamInfo(pa_context* c, const pa_sink_input_info* info, int eol, void* self);
    static void reconnect(pa_mainloop_api* api, pa_time_event* event, const timeval* when,
                          void* self);
    void setConnected(bool on) {
        const std::lock_guard lock(mutex);
        connected = on;
    }
};

void PulseAudioStreams::Private::connect() {
    context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Idlewatch");
    if (!context)
        return scheduleReconnect();
    pa_context_set_state_callback(context, &Private::stateChanged, this);
    pa_context_set_subscribe_callback(context, &Private::streamEvent, this);
    // A failure here is seen by stateChanged, which schedules the next try.
    pa_context_connect(context, server.isEmpty() ? nullptr : server.constData(),
                       PA_CONTEXT_NOAUTOSPAWN, nullptr);
}

void PulseAudioStreams::Private::stateChanged(pa_context* c, void* self) {
    auto* d = static_cast<Private*>(self);
    switch (pa_context_get_state(c)) {
    case PA_CONTEXT_READY:
        d->setConnected(true);
        qCInfo(lcAudio, "Following the sound server's playback streams");
        d->toldMissing = false;
        d->playingStreams.clear();
        release(pa_context_subscribe(c, PA_SUBSCRIPTION_MASK_SINK_INPUT, nullptr, nullptr));
        release(pa_context_get_sink_input_info_list(c, &Private::streamInfo, d));
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        d->setConnected(false);
        d->playingStreams.clear();
        d->publish();
        if (!d->toldMissing)
            qCInfo(lcAudio, "No sound server: applications playing sound are not told apart "
                            "until one starts");
        d->toldMissing = true;
        d->scheduleReconnect();
        break;
    default:
        break;
    }
}

void PulseAudioStreams::Private::streamEvent(pa_context* c, pa_subscription_event_type_t type,
                                             uint32_t index, void* self) {
    auto* d = static_cast<Private*>(self);
    if ((type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_REMOVE) {
        if (d->playingStreams.remove(index))
            d->publish();
        return;
    }
    // New or changed (corked, uncorked): read that stream again.
    release(pa_context_get_sink_input_info(c, index, &Private::streamInfo, d));
}

void PulseAudioStreams::Private::streamInfo(pa_context*, const pa_sink_input_info* info, int eol,
                                            void* self) {
    auto* d = static_cast<Private*>(self);
    if (eol || !info)
        return d->publish();
    const char* pid = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID);
    if (pid && !info->corked)
        d->playingStreams.insert(info->index, QByteArray(pid).toLongLong());
    else
        d->playingStreams.remove(info->index);
}

void PulseAudioStreams::Private::scheduleReconnect() {
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
    timeval when{};
    pa_timeval_add(pa_gettimeofday(&when), kReconnectAfter);
    api->time_new(api, &when, &Private::reconnect, this);
}

void PulseAudioStreams::Private::reconnect(pa_mainloop_api* api, pa_time_event* event,
                                           const timeval*, void* self) {
    api->time_free(event);
    auto* d = static_cast<Private*>(self);
    d->dropContext();
    d->connect();
}

void PulseAudioStreams::Private::dropContext() {
    if (!context)
        return;
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_set_subscribe_callback(context, nullptr, nullptr);
    pa_context_disconnect(context);
    pa_context_unref(context);
    context = nullptr;
}

void PulseAudioStreams::Private::publish() {
    QSet<qint64> pids;
    for (const qint64 pid : std::as_const(playingStreams)) {
        // The stream's process and what started it, up to (not including) init.
        qint64 current = pid;
        for (int depth = 0; current > 1 && depth < 64 && !pids.contains(current); ++depth) {
            pids.insert(current);
            current = ProcessControl::parentPid(pid_t(current)).value_or(0);
        }
    }
    const std::lock_guard lock(mutex);
    playing = std::move(pids);
}

PulseAudioStreams::PulseAudioStreams(const QByteArray& server)
    : d(std::make_unique<Private>()) {
    d->server = server;
    d->loop = pa_threaded_mainloop_new();
    if (!d->loop)
        return;
    pa_threaded_mainloop_set_name(d->loop, "idlewatch-audio");
    pa_threaded_mainloop_lock(d->loop);
    d->connect();
    pa_threaded_mainloop_unlock(d->loop);
    pa_threaded_mainloop_start(d->loop);
}

PulseAudioStreams::~PulseAudioStreams() {
    if (!d->loop)
        return;
    pa_threaded_mainloop_stop(d->loop);
    d->dropContext();
    // Frees pending time events with the loop.
    pa_threaded_mainloop_free(d->loop);
}

QSet<qint64> PulseAudioStreams::playingProcessIds() const {
    const std::lock_guard lock(d->mutex);
    return d->playing;
}

bool PulseAudioStreams::isConnected() const {
    const std::lock_guard lock(d->mutex);
    return d->connected;
}

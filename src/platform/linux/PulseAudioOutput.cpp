#include "PulseAudioOutput.h"

#include "support/Log.h"

#include <QAudioSink>
#include <QCoreApplication>
#include <QIODevice>
#include <QMediaDevices>
#include <QMutex>
#include <QTimer>

#include <chrono>
#include <cstring>
#include <deque>

namespace {
const char *const kTag = "AudioOutput";
// Short, so that a stop is heard at once and a finish is reported on time.
constexpr std::chrono::milliseconds kSinkBuffer{100};
} // namespace

// Hands the sink queued samples, then silence, and reports each buffer once
// the sink's own buffer has had time to play it.
class QueuedSamplesDevice : public QIODevice {
public:
    struct Pending {
        std::vector<float> samples;
        size_t position = 0;
        AudioOutput::Completion completion;
    };

    std::function<void()> onDrained;
    std::chrono::milliseconds latency{kSinkBuffer};

    void enqueue(std::vector<float> samples, AudioOutput::Completion completion)
    {
        QMutexLocker lock(&m_mutex);
        m_queue.push_back({std::move(samples), 0, std::move(completion)});
    }

    // Every queued or unheard buffer, in order, with its completion.
    std::vector<AudioOutput::Completion> takeAll()
    {
        QMutexLocker lock(&m_mutex);
        std::vector<AudioOutput::Completion> all;
        for (auto &pending : m_queue)
            all.push_back(std::move(pending.completion));
        m_queue.clear();
        ++m_generation;
        for (auto &completion : m_unheard)
            all.push_back(std::move(completion));
        m_unheard.clear();
        return all;
    }

    bool isIdle()
    {
        QMutexLocker lock(&m_mutex);
        return m_queue.empty() && m_unheard.empty();
    }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return 1 << 20; }

protected:
    qint64 writeData(const char *, qint64) override { return -1; }

    qint64 readData(char *data, qint64 maxSize) override
    {
        QMutexLocker lock(&m_mutex);
        const qint64 frames = maxSize / qint64(sizeof(float));
        auto *out = reinterpret_cast<float *>(data);
        qint64 written = 0;
        while (written < frames && !m_queue.empty()) {
            Pending &front = m_queue.front();
            const size_t take = std::min<size_t>(size_t(frames - written), front.samples.size() - front.position);
            std::memcpy(out + written, front.samples.data() + front.position, take * sizeof(float));
            written += qint64(take);
            front.position += take;
            if (front.position == front.samples.size()) {
                m_unheard.push_back(std::move(front.completion));
                m_queue.pop_front();
                scheduleHeard();
            }
        }
        std::memset(out + written, 0, size_t(frames - written) * sizeof(float));
        return frames * qint64(sizeof(float));
    }

private:
    // Called with the mutex held; the timer runs on this object's thread.
    void scheduleHeard()
    {
        QMetaObject::invokeMethod(this, [this, generation = m_generation] {
            QTimer::singleShot(latency, this, [this, generation] {
                AudioOutput::Completion completion;
                bool drained = false;
                {
                    QMutexLocker lock(&m_mutex);
                    if (generation != m_generation || m_unheard.empty())
                        return;
                    completion = std::move(m_unheard.front());
                    m_unheard.pop_front();
                    drained = m_queue.empty() && m_unheard.empty();
                }
                if (completion)
                    completion(true);
                if (drained && onDrained && isIdle())
                    onDrained();
            });
        }, Qt::QueuedConnection);
    }

    QMutex m_mutex;
    std::deque<Pending> m_queue;
    std::deque<AudioOutput::Completion> m_unheard;
    quint64 m_generation = 0;
};

PulseAudioOutput::PulseAudioOutput()
    : m_device(new QueuedSamplesDevice)
{
    m_device->open(QIODevice::ReadOnly);
}

PulseAudioOutput::~PulseAudioOutput()
{
    // Nobody is left to hear how the buffers end, and no event loop may come
    // to delete the sinks, whose deletion runs queued events.
    m_device->takeAll();
    QCoreApplication::removePostedEvents(m_device);
    retireSink();
    while (!m_retiredSinks.empty()) {
        const QPointer<QAudioSink> sink = m_retiredSinks.back();
        m_retiredSinks.pop_back();
        delete sink.data();
    }
    delete m_device;
}

bool PulseAudioOutput::isAvailable()
{
    return !QMediaDevices::defaultAudioOutput().isNull();
}

bool PulseAudioOutput::startSink(int sampleRate)
{
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) {
        if (!std::exchange(m_failureLogged, true))
            logLine(kTag, "No audio output device");
        return false;
    }
    QAudioFormat format;
    format.setSampleRate(sampleRate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Float);
    m_sink = new QAudioSink(device, format);
    m_sink->setBufferSize(qsizetype(sampleRate * sizeof(float) * kSinkBuffer.count() / 1000));
    m_sink->start(m_device);
    if (m_sink->error() != QAudio::NoError || m_sink->state() == QAudio::StoppedState) {
        if (!std::exchange(m_failureLogged, true))
            logLine(kTag, QStringLiteral("Cannot start audio output (error %1)").arg(int(m_sink->error())));
        retireSink();
        return false;
    }
    m_sampleRate = sampleRate;
    m_failureLogged = false;
    const qsizetype buffered = m_sink->bufferSize() / qsizetype(sizeof(float));
    m_device->latency = std::chrono::milliseconds(qMax<qint64>(kSinkBuffer.count(), buffered * 1000 / sampleRate));
    m_device->onDrained = [this] { stop(); };
    return true;
}

bool PulseAudioOutput::play(std::vector<float> samples, int sampleRate, Completion completion)
{
    if (sampleRate <= 0)
        return false;
    if (m_sink && m_sampleRate != sampleRate)
        stop();
    if (!m_sink && !startSink(sampleRate))
        return false;
    m_device->enqueue(std::move(samples), std::move(completion));
    return true;
}

void PulseAudioOutput::stop()
{
    retireSink();
    m_sampleRate = 0;
    for (Completion &completion : m_device->takeAll()) {
        if (completion)
            QMetaObject::invokeMethod(m_device, [completion] { completion(false); }, Qt::QueuedConnection);
    }
}

void PulseAudioOutput::retireSink()
{
    QAudioSink *sink = std::exchange(m_sink, nullptr);
    if (!sink)
        return;
    // A sink deleted while it runs still answers its own queued request for
    // more, on a stream it has already closed: stopped first, it ignores it.
    sink->stop();
    // Its destructor runs queued events, which must not reach our callers
    // inside this call.
    sink->deleteLater();
    std::erase_if(m_retiredSinks, [](const QPointer<QAudioSink> &retired) { return retired.isNull(); });
    m_retiredSinks.emplace_back(sink);
}

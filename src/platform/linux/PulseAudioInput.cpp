#include "PulseAudioInput.h"

#include "BufferRegrouper.h"

#include "support/DescribedError.h"
#include "support/Log.h"

#include <QAudioSource>
#include <QMediaDevices>
#include <QPointer>
#include <QFuture>

namespace {
const char *const kTag = "AudioInput";

QString describe(QAudio::Error error)
{
    switch (error) {
    case QAudio::NoError:
        return {};
    case QAudio::OpenError:
        return QStringLiteral("The audio input device could not be opened.");
    case QAudio::IOError:
        return QStringLiteral("Reading from the audio input device failed.");
    case QAudio::UnderrunError:
        return QStringLiteral("The audio input device stopped delivering data.");
    case QAudio::FatalError:
        break;
    }
    return QStringLiteral("The audio input device failed.");
}

// The raw samples of `bytes` as floats in [-1, 1].
QList<float> asFloat(const QByteArray &bytes, const QAudioFormat &format)
{
    QList<float> out;
    const int bytesPerSample = format.bytesPerSample();
    if (bytesPerSample <= 0)
        return out;
    const qsizetype count = bytes.size() / bytesPerSample;
    const char *data = bytes.constData();
    out.reserve(count);
    for (qsizetype i = 0; i < count; ++i)
        out.append(format.normalizedSampleValue(data + i * bytesPerSample));
    return out;
}
} // namespace

// Lives on the capture thread; every member is touched only there.
class AudioCaptureWorker : public QObject {
public:
    void installTap(int bufferFrames, AudioInput::Tap tap)
    {
        m_bufferFrames = qMax(1, bufferFrames);
        m_tap = std::move(tap);
    }

    void removeTap()
    {
        // Hand over what has been captured so far so a stop loses nothing.
        readAvailable();
        m_regrouper.flush(m_tap);
        m_tap = nullptr;
    }

    QString start()
    {
        if (m_source && m_source->state() != QAudio::StoppedState)
            return {};
        // A source that failed while running is replaced.
        stop();
        const QAudioDevice device = QMediaDevices::defaultAudioInput();
        if (device.isNull())
            return QStringLiteral("No audio input device is available.");
        // The device's own rate and channels; PulseAudio converts the sample
        // type, so float is asked for whatever the device stores.
        m_format = device.preferredFormat();
        m_format.setSampleFormat(QAudioFormat::Float);
        m_source = new QAudioSource(device, m_format, this);
        // Left to itself PulseAudio hands over about two seconds at a time:
        // the first buffer would come that long after the key press.
        m_source->setBufferSize(m_format.bytesForFrames(m_bufferFrames));
        m_regrouper.reset(m_bufferFrames, m_format.channelCount());
        m_io = m_source->start();
        if (!m_io || m_source->error() != QAudio::NoError) {
            const QString message = describe(m_source->error());
            stop();
            return message.isEmpty() ? describe(QAudio::FatalError) : message;
        }
        connect(m_io, &QIODevice::readyRead, this, [this] { readAvailable(); });
        connect(m_source, &QAudioSource::stateChanged, this, [this](QAudio::State state) {
            if (state == QAudio::StoppedState && m_source && m_source->error() != QAudio::NoError)
                logLine(kTag, QStringLiteral("Audio input stopped: %1").arg(describe(m_source->error())));
        });
        return {};
    }

    void stop()
    {
        if (!m_source)
            return;
        m_source->disconnect(this);
        if (m_io)
            m_io->disconnect(this);
        m_source->stop();
        delete m_source;
        m_source = nullptr;
        m_io = nullptr;
        m_regrouper.reset(m_bufferFrames, 0);
    }

private:
    void readAvailable()
    {
        if (m_io)
            m_regrouper.append(asFloat(m_io->readAll(), m_format), m_tap);
    }

    QAudioSource *m_source = nullptr;
    QIODevice *m_io = nullptr;
    QAudioFormat m_format;
    AudioInput::Tap m_tap;
    int m_bufferFrames = 1024;
    BufferRegrouper m_regrouper;
};

PulseAudioInput::PulseAudioInput()
    : m_worker(new AudioCaptureWorker)
{
    m_thread.setObjectName(QStringLiteral("audio-capture"));
    m_worker->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread.start();
}

PulseAudioInput::~PulseAudioInput()
{
    QMetaObject::invokeMethod(m_worker, [w = m_worker] { w->stop(); w->removeTap(); }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

QFuture<AudioInput::Access> PulseAudioInput::requestPermission()
{
    // PulseAudio asks no one's leave: any source may be recorded.
    return QtFuture::makeReadyFuture(QMediaDevices::audioInputs().isEmpty() ? Access::noDevice : Access::granted);
}

AudioInput::Format PulseAudioInput::inputFormat()
{
    const QAudioFormat format = QMediaDevices::defaultAudioInput().preferredFormat();
    return {double(format.sampleRate()), format.channelCount()};
}

void PulseAudioInput::installTap(int bufferFrames, Tap tap)
{
    QMetaObject::invokeMethod(
        m_worker, [w = m_worker, bufferFrames, tap = std::move(tap)]() mutable { w->installTap(bufferFrames, std::move(tap)); },
        Qt::BlockingQueuedConnection);
}

void PulseAudioInput::removeTap()
{
    QMetaObject::invokeMethod(m_worker, [w = m_worker] { w->removeTap(); }, Qt::BlockingQueuedConnection);
}

void PulseAudioInput::start()
{
    QString error;
    QMetaObject::invokeMethod(m_worker, [w = m_worker, &error] { error = w->start(); }, Qt::BlockingQueuedConnection);
    if (!error.isEmpty())
        throw DescribedError(error);
}

void PulseAudioInput::stop()
{
    QMetaObject::invokeMethod(m_worker, [w = m_worker] { w->stop(); }, Qt::BlockingQueuedConnection);
}

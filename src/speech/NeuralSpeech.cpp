#include "NeuralSpeech.h"

#include "platform/AudioOutput.h"
#include "support/DescribedError.h"
#include "support/Log.h"
#include "support/SerialExecutor.h"

#include <QPointer>

#include <cmath>

NeuralSpeech::NeuralSpeech(QStringList chunks, Voice voice, Services services, std::function<bool()> isCurrent,
                           std::function<void()> onEnd, QObject *parent)
    : QObject(parent)
    , m_chunks(std::move(chunks))
    , m_voice(std::move(voice))
    , m_services(services)
    , m_isCurrent(std::move(isCurrent))
    , m_onEnd(std::move(onEnd))
{
}

bool NeuralSpeech::sanitize(std::vector<float> &samples)
{
    bool anyFinite = false;
    for (float &sample : samples) {
        if (std::isfinite(sample))
            anyFinite = true;
        else
            sample = 0.0f;
    }
    return anyFinite;
}

void NeuralSpeech::next()
{
    if (m_index >= m_chunks.size() || !m_isCurrent()) {
        end();
        return;
    }
    const QString chunk = m_chunks.at(m_index++);
    NeuralVoiceEngine &engine = m_services.engine;
    QFuture<std::vector<float>> audio = m_services.synthesisQueue.run([voice = m_voice, chunk, &engine] {
        std::vector<float> samples = voice.model->generateAudio(*voice.embedding, voice.language, chunk, 1.0);
        engine.clearCache();
        return samples;
    });
    m_followed.follow(audio)
        .then(this, [this](std::vector<float> samples) { playAudioBuffer(std::move(samples)); })
        .onFailed(this, [this](const std::exception &error) {
            logLine("TTS", QStringLiteral("Kokoro synthesis error: %1").arg(QString::fromUtf8(error.what())));
            end();
        })
        .onFailed(this, [this] {
            logLine("TTS", "Kokoro synthesis error: unknown error");
            end();
        });
}

void NeuralSpeech::playAudioBuffer(std::vector<float> samples)
{
    if (!m_isCurrent() || !sanitize(samples)) {
        end();
        return;
    }
    const QPointer<NeuralSpeech> self(this);
    const bool started = m_services.output.play(std::move(samples), NeuralVoiceModel::sampleRate, [self](bool) {
        if (self)
            self->next();
    });
    // a chunk that cannot be played is skipped, not the whole speech
    if (!started)
        QMetaObject::invokeMethod(this, &NeuralSpeech::next, Qt::QueuedConnection);
}

void NeuralSpeech::end()
{
    if (m_onEnd)
        std::exchange(m_onEnd, nullptr)();
    deleteLater();
}

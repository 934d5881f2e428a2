#pragma once

#include "platform/SystemSpeechSynthesizer.h"

#include <atomic>
#include <memory>
#include <optional>

class AudioOutput;
class SerialExecutor;

// System voices from libespeak-ng. Synthesis runs into memory on one worker
// thread shared by every instance (espeak's state is process-wide), and each
// piece is played through the audio output as it arrives, so speech starts
// after the first few milliseconds of work.
class EspeakSpeechSynthesizer : public SystemSpeechSynthesizer {
    Q_OBJECT
public:
    explicit EspeakSpeechSynthesizer(AudioOutput &output, QObject *parent = nullptr);
    ~EspeakSpeechSynthesizer() override;

    bool isAvailable() override;
    QList<Voice> voices() override;
    quint64 speak(const Utterance &utterance) override;
    bool isSpeaking() const override { return m_speaking != 0; }
    void stopSpeaking() override;

    // espeak's own scales: words per minute and a pitch of 0 to 100.
    static constexpr int normalRate = 175;
    static constexpr int normalPitch = 50;

private:
    void synthesise(quint64 id, const Utterance &utterance);
    void deliver(quint64 id, std::vector<float> samples, bool last);

    AudioOutput &m_output;
    // Shared by every instance and kept by each: it outlives all of them,
    // even when one goes among the static objects at exit.
    const std::shared_ptr<SerialExecutor> m_thread;
    std::atomic<int> m_sampleRate{0};
    std::optional<QList<Voice>> m_voices;
    quint64 m_lastId = 0;
    // the utterance being spoken, 0 when none; the worker aborts others
    quint64 m_speaking = 0;
    std::atomic<quint64> m_wanted{0};
};

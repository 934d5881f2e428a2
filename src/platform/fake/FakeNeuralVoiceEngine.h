#pragma once

#include "platform/NeuralVoiceEngine.h"

#include <QList>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>

// A neural engine whose model speaks every text as a test tone, 10 ms per
// character, so the neural path runs end to end without weights. Models
// generate on the synthesis thread; everything here is thread-safe.
class FakeNeuralVoiceEngine : public NeuralVoiceEngine {
public:
    struct Generation {
        QString text;
        NeuralVoiceModel::Language language;
        // the embedding's first value, to tell voices apart
        float voiceMark = 0;
    };
    // Samples for a text instead of the tone (none: the tone); may throw.
    using Audio = std::function<std::optional<std::vector<float>>(const QString &text)>;

    std::atomic<bool> available{true};
    std::atomic<int> clearCacheCount{0};

    bool isAvailable() override { return available; }
    std::unique_ptr<NeuralVoiceModel> createModel(const QString &modelPath) override;
    void setCacheLimit(qint64) override {}
    void clearCache() override { ++clearCacheCount; }

    void setAudio(Audio audio);
    // While held, generations wait before they return.
    void setHeld(bool held);
    QList<Generation> generations() const;

    static std::vector<float> tone(const QString &text);
    std::vector<float> generate(const NpyArray &voice, NeuralVoiceModel::Language language, const QString &text);

private:
    // std primitives: a QWaitCondition releases its mutex inside Qt, where
    // the thread sanitizer cannot see it
    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    QList<Generation> m_generations;
    Audio m_audio;
    bool m_held = false;
};

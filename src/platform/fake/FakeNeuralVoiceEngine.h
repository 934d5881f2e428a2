#pragma once

#include "platform/NeuralVoiceEngine.h"

#include <QMutex>
#include <QWaitCondition>
#include <QStringList>

#include <functional>

// A neural engine whose model speaks every text as a test tone, 10 ms per
// character, so the neural path runs end to end without weights. Thread-safe:
// models generate on the synthesis thread.
class FakeNeuralVoiceEngine : public NeuralVoiceEngine {
public:
    struct Generation {
        QString text;
        NeuralVoiceModel::Language language;
        // the first value of the embedding, to tell voices apart
        float voiceMark = 0;
    };

    bool available = true;

    bool isAvailable() override { return available; }
    std::unique_ptr<NeuralVoiceModel> createModel(const QString &modelPath) override;
    void setCacheLimit(qint64 bytes) override;
    void clearCache() override;

    // Replaces the tone for some texts: return samples, or throw.
    void setAudioFor(std::function<std::optional<std::vector<float>>(const QString &text)> audio);
    // While held, every generation waits for release() before it returns.
    void hold();
    void release();

    QStringList createdFrom() const;
    QList<Generation> generations() const;
    qint64 cacheLimit() const;
    int clearCacheCount() const;

    static std::vector<float> tone(const QString &text);

private:
    friend class FakeNeuralVoiceModel;
    std::vector<float> generate(const NpyArray &voice, NeuralVoiceModel::Language language, const QString &text);

    mutable QMutex m_mutex;
    QStringList m_createdFrom;
    QList<Generation> m_generations;
    std::function<std::optional<std::vector<float>>(const QString &)> m_audio;
    qint64 m_cacheLimit = 0;
    int m_clearCacheCount = 0;
    bool m_held = false;
    QWaitCondition m_released;
};

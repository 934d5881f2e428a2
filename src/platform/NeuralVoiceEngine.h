#pragma once

#include "platform/NpyzReader.h"

#include <QString>

#include <memory>
#include <vector>

// A neural text-to-speech model loaded from a weights file.
class NeuralVoiceModel {
public:
    enum class Language { americanEnglish, britishEnglish };

    virtual ~NeuralVoiceModel() = default;

    // Mono float samples at sampleRate for one piece of text, spoken with the
    // voice whose embedding is given. Throws on failure. Called on one worker
    // thread at a time, never on the main thread.
    virtual std::vector<float> generateAudio(const NpyArray &voice, Language language, const QString &text,
                                             double speed) = 0;

    static constexpr int sampleRate = 24000;
};

// The runtime that builds neural voice models and owns their buffer cache.
class NeuralVoiceEngine {
public:
    virtual ~NeuralVoiceEngine() = default;

    // Whether models can be built on this machine at all.
    virtual bool isAvailable() = 0;
    // The model in the weights file; null when unavailable.
    virtual std::unique_ptr<NeuralVoiceModel> createModel(const QString &modelPath) = 0;
    // Bounds the bytes of buffers kept for reuse between calls.
    virtual void setCacheLimit(qint64 bytes) = 0;
    virtual void clearCache() = 0;
};

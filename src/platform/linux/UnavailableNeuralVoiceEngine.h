#pragma once

#include "platform/NeuralVoiceEngine.h"

// No runtime for the neural voice's weights exists on Linux: the engine says
// so, and speech stays with the system voices.
class UnavailableNeuralVoiceEngine : public NeuralVoiceEngine {
public:
    bool isAvailable() override { return false; }
    std::unique_ptr<NeuralVoiceModel> createModel(const QString &) override { return nullptr; }
    void setCacheLimit(qint64) override {}
    void clearCache() override {}
};

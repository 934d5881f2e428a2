#include "FakeNeuralVoiceEngine.h"

#include <cmath>

namespace {
class FakeNeuralVoiceModel : public NeuralVoiceModel {
public:
    explicit FakeNeuralVoiceModel(FakeNeuralVoiceEngine &engine) : m_engine(engine) {}
    std::vector<float> generateAudio(const NpyArray &voice, Language language, const QString &text, double) override
    {
        return m_engine.generate(voice, language, text);
    }

private:
    FakeNeuralVoiceEngine &m_engine;
};
} // namespace

std::unique_ptr<NeuralVoiceModel> FakeNeuralVoiceEngine::createModel(const QString &)
{
    return available ? std::make_unique<FakeNeuralVoiceModel>(*this) : nullptr;
}

void FakeNeuralVoiceEngine::setAudio(Audio audio)
{
    std::lock_guard lock(m_mutex);
    m_audio = std::move(audio);
}

void FakeNeuralVoiceEngine::setHeld(bool held)
{
    std::lock_guard lock(m_mutex);
    m_held = held;
    m_released.notify_all();
}

QList<FakeNeuralVoiceEngine::Generation> FakeNeuralVoiceEngine::generations() const
{
    std::lock_guard lock(m_mutex);
    return m_generations;
}

std::vector<float> FakeNeuralVoiceEngine::generate(const NpyArray &voice, NeuralVoiceModel::Language language,
                                                   const QString &text)
{
    Audio audio;
    {
        std::unique_lock lock(m_mutex);
        m_generations.append({text, language, voice.values.empty() ? 0.0f : voice.values.front()});
        m_released.wait(lock, [this] { return !m_held; });
        audio = m_audio;
    }
    if (audio) {
        if (std::optional<std::vector<float>> samples = audio(text))
            return *samples;
    }
    return tone(text);
}

std::vector<float> FakeNeuralVoiceEngine::tone(const QString &text)
{
    std::vector<float> samples(size_t(text.size()) * NeuralVoiceModel::sampleRate / 100);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = 0.3f * float(std::sin(2 * M_PI * 440.0 * double(i) / NeuralVoiceModel::sampleRate));
    return samples;
}

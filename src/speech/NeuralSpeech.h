#pragma once

#include "platform/NeuralVoiceEngine.h"
#include "support/FutureWatch.h"

#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

class AudioOutput;
class SerialExecutor;

// One speech in the neural voice: synthesises its chunks one at a time on
// the synthesis thread and plays each through the audio output. Ends when
// every chunk has played, when a chunk's audio is unusable, when the engine
// fails, or at the first check after its speech stopped being the current
// one; then it reports once and deletes itself.
class NeuralSpeech : public QObject {
    Q_OBJECT
public:
    struct Voice {
        std::shared_ptr<NeuralVoiceModel> model;
        std::shared_ptr<const NpyArray> embedding;
        NeuralVoiceModel::Language language = NeuralVoiceModel::Language::britishEnglish;
    };
    struct Services {
        SerialExecutor &synthesisQueue;
        NeuralVoiceEngine &engine;
        AudioOutput &output;
    };

    NeuralSpeech(QStringList chunks, Voice voice, Services services, std::function<bool()> isCurrent,
                 std::function<void()> onEnd, QObject *parent);

    void start() { next(); }

    // Non-finite samples become silence; false when no sample is finite.
    static bool sanitize(std::vector<float> &samples);

private:
    void next();
    void playAudioBuffer(std::vector<float> samples);
    void end();

    QStringList m_chunks;
    qsizetype m_index = 0;
    Voice m_voice;
    Services m_services;
    std::function<bool()> m_isCurrent;
    std::function<void()> m_onEnd;
    // Last: a speech deleted with its service while a chunk is still being
    // synthesised ends that chunk's continuations first.
    Futures::FollowedFutures m_followed;
};

#include "EspeakSpeechSynthesizer.h"

#include "platform/AudioOutput.h"
#include "support/Handover.h"
#include "support/Log.h"
#include "support/SerialExecutor.h"

#include <QPointer>

#include <espeak-ng/speak_lib.h>

#include <cmath>
#include <mutex>

namespace {
const char *const kTag = "SystemVoice";
// Milliseconds of audio per synthesis callback: the first piece plays early.
constexpr int kCallbackMs = 50;

// The synthesis running on the worker; espeak's callback has no other way in.
struct Synthesis {
    quint64 id = 0;
    const std::atomic<quint64> *wanted = nullptr;
    std::function<void(std::vector<float>)> deliver;
};
thread_local Synthesis *t_synthesis = nullptr;

int onSamples(short *wav, int count, espeak_EVENT *)
{
    Synthesis *synthesis = t_synthesis;
    if (!synthesis || synthesis->wanted->load() != synthesis->id)
        return 1; // abort
    if (wav && count > 0) {
        std::vector<float> samples(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i)
            samples[size_t(i)] = float(wav[i]) / 32768.0f;
        synthesis->deliver(std::move(samples));
    }
    return 0;
}
std::shared_ptr<SerialExecutor> espeakThread()
{
    static std::mutex mutex;
    static std::weak_ptr<SerialExecutor> shared;
    std::lock_guard lock(mutex);
    std::shared_ptr<SerialExecutor> thread = shared.lock();
    if (!thread) {
        thread = std::make_shared<SerialExecutor>(QStringLiteral("espeak"));
        shared = thread;
    }
    return thread;
}

// On the espeak thread: initialises espeak once per process; its sample
// rate, 0 when it cannot run.
int initialise()
{
    static int sampleRate = 0;
    if (sampleRate == 0) {
        const int rate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, kCallbackMs, nullptr, 0);
        if (rate <= 0) {
            logLine(kTag, "espeak-ng could not be initialised");
            sampleRate = -1;
        } else {
            sampleRate = rate;
            espeak_SetSynthCallback(onSamples);
        }
    }
    return qMax(0, sampleRate);
}
} // namespace

EspeakSpeechSynthesizer::EspeakSpeechSynthesizer(AudioOutput &output, QObject *parent)
    : SystemSpeechSynthesizer(parent)
    , m_output(output)
    , m_thread(espeakThread())
{
}

EspeakSpeechSynthesizer::~EspeakSpeechSynthesizer()
{
    // our queued jobs end at once, and none outlives us
    m_wanted = 0;
    m_thread->sync([] {});
}

bool EspeakSpeechSynthesizer::isAvailable()
{
    m_thread->sync([this] { m_sampleRate = initialise(); });
    return m_sampleRate > 0;
}

QList<SystemSpeechSynthesizer::Voice> EspeakSpeechSynthesizer::voices()
{
    if (m_voices)
        return *m_voices;
    QList<Voice> list;
    m_thread->sync([&] {
        if (initialise() <= 0)
            return;
        for (const espeak_VOICE **voice = espeak_ListVoices(nullptr); voice && *voice; ++voice) {
            const espeak_VOICE &v = **voice;
            // languages: a priority byte, then the language; the first is its own
            const int priority = v.languages ? quint8(v.languages[0]) : 5;
            const QString language = v.languages ? QString::fromUtf8(v.languages + 1) : QString();
            // espeak ranks voices within their language, lower first: its main
            // voice of a language counts as the better one
            list.append({QString::fromUtf8(v.identifier), QString::fromUtf8(v.name), language, qMax(0, 10 - priority)});
        }
    });
    m_voices = list;
    return list;
}

quint64 EspeakSpeechSynthesizer::speak(const Utterance &utterance)
{
    stopSpeaking();
    const quint64 id = ++m_lastId;
    m_speaking = id;
    m_wanted = id;
    m_thread->post([this, id, utterance] { synthesise(id, utterance); });
    return id;
}

void EspeakSpeechSynthesizer::stopSpeaking()
{
    if (!m_speaking)
        return;
    m_speaking = 0;
    m_wanted = 0;
    m_output.stop();
}

void EspeakSpeechSynthesizer::synthesise(quint64 id, const Utterance &utterance)
{
    if (m_wanted != id)
        return;
    m_sampleRate = initialise();
    if (m_sampleRate > 0) {
        if (utterance.voice)
            espeak_SetVoiceByName(utterance.voice->identifier.toUtf8().constData());
        espeak_SetParameter(espeakRATE, qBound(80, int(std::lround(normalRate * utterance.rate)), 450), 0);
        espeak_SetParameter(espeakPITCH, qBound(0, int(std::lround(normalPitch * utterance.pitch)), 100), 0);
        Synthesis synthesis{id, &m_wanted, [this, id](std::vector<float> samples) {
                                deliver(id, std::move(samples), false);
                            }};
        t_synthesis = &synthesis;
        const QByteArray text = utterance.text.toUtf8();
        espeak_Synth(text.constData(), size_t(text.size()) + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr,
                     nullptr);
        t_synthesis = nullptr;
    }
    deliver(id, {}, true);
}

void EspeakSpeechSynthesizer::deliver(quint64 id, std::vector<float> samples, bool last)
{
    Handover::post(this, [this, id, samples = std::move(samples), last]() mutable {
        if (m_speaking != id)
            return;
        const QPointer<EspeakSpeechSynthesizer> self(this);
        AudioOutput::Completion completion;
        if (last) {
            completion = [self, id](bool played) {
                if (!self || !played || self->m_speaking != id)
                    return;
                self->m_speaking = 0;
                emit self->finished(id);
            };
        }
        const int rate = qMax(1, m_sampleRate.load());
        if (!m_output.play(std::move(samples), rate, completion) && completion)
            completion(true); // nothing can be heard: the utterance is over
    });
}

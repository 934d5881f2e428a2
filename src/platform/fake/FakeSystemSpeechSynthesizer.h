#pragma once

#include "platform/SystemSpeechSynthesizer.h"

// A synthesizer that records its utterances; finishSpeaking() reports the
// current one spoken to its end.
class FakeSystemSpeechSynthesizer : public SystemSpeechSynthesizer {
    Q_OBJECT
public:
    using SystemSpeechSynthesizer::SystemSpeechSynthesizer;

    QList<Voice> installedVoices;
    QList<Utterance> utterances;

    bool isAvailable() override { return true; }
    QList<Voice> voices() override { return installedVoices; }
    quint64 speak(const Utterance &utterance) override
    {
        utterances << utterance;
        m_current = ++m_lastId;
        return m_current;
    }
    bool isSpeaking() const override { return m_current != 0; }
    void stopSpeaking() override { m_current = 0; }

    // Reports the current utterance finished; false when none is spoken.
    bool finishSpeaking()
    {
        const quint64 id = std::exchange(m_current, 0);
        if (id)
            emit finished(id);
        return id != 0;
    }
    quint64 lastUtterance() const { return m_lastId; }

private:
    quint64 m_lastId = 0;
    quint64 m_current = 0;
};

#pragma once

#include <QList>

#include <atomic>
#include <condition_variable>
#include <mutex>

// A recognition request fed with live audio: mono float samples at 16 kHz,
// appended in order until the client ends the audio. The client appends from
// its own thread; the recogniser takes the audio from another.
class RecognitionRequest {
public:
    static constexpr int sampleRate = 16000;

    bool shouldReportPartialResults() const { return m_reportPartials; }
    void setShouldReportPartialResults(bool report) { m_reportPartials = report; }
    bool requiresOnDeviceRecognition() const { return m_onDevice; }
    void setRequiresOnDeviceRecognition(bool onDevice) { m_onDevice = onDevice; }

    // Audio after endAudio() is ignored.
    void append(const QList<float> &samples);
    void endAudio();
    bool isAudioEnded() const;

    struct Audio {
        QList<float> samples; // everything queued since the last take
        bool ended = false;   // no audio will follow these samples
    };
    // What is queued now, without waiting.
    Audio takeAudio();
    // Waits until audio is queued, the audio has ended, or wake() is called.
    Audio waitForAudio();
    // Releases a waitForAudio() (the recogniser's cancel uses it).
    void wake();

private:
    std::atomic<bool> m_reportPartials { true };
    std::atomic<bool> m_onDevice { false };
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    QList<float> m_queued;
    bool m_ended = false;
    bool m_wakeRequested = false;
};

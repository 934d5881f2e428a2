#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

// The desktop's own text-to-speech voices. Lives on the main thread; one
// utterance at a time.
class SystemSpeechSynthesizer : public QObject {
    Q_OBJECT
public:
    struct Voice {
        // What speak() selects the voice by.
        QString identifier;
        QString name;
        // A language tag such as "en-gb".
        QString language;
        // Higher is better; equal ranks keep the listing order.
        int quality = 0;

        friend bool operator==(const Voice &, const Voice &) = default;
    };

    struct Utterance {
        QString text;
        // Multipliers of the synthesizer's normal speaking rate and pitch.
        double rate = 1.0;
        double pitch = 1.0;
        // None: the synthesizer's default voice.
        std::optional<Voice> voice;
    };

    using QObject::QObject;

    virtual bool isAvailable() = 0;
    // The installed voices in the synthesizer's own order.
    virtual QList<Voice> voices() = 0;
    // Starts speaking, ending any utterance in progress without reporting it
    // finished. Returns the utterance's number, which finished() carries.
    virtual quint64 speak(const Utterance &utterance) = 0;
    virtual bool isSpeaking() const = 0;
    // Ends the utterance at once; it is never reported finished.
    virtual void stopSpeaking() = 0;

signals:
    // The utterance was spoken to its end.
    void finished(quint64 utterance);
};

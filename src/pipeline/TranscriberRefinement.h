#pragma once

#include <QString>

#include <functional>

// What the coordinator needs of its transcriber beyond one session: the
// per-dictation settings, the refinement reports that follow a parallel
// dictation, the cloud minutes of the last cloud dictation and the live text.
class TranscriberRefinement {
public:
    // Names one dictation; every refinement report carries its dictation's id,
    // so that a report is never taken for another dictation's.
    using DictationId = quint64;
    using TextHandler = std::function<void(DictationId, const QString &)>;
    // why: a short note for the user on why the stage gave no text.
    using FailureHandler = std::function<void(DictationId, const QString &why)>;

    virtual ~TranscriberRefinement() = default;

    // Before every start: empties the live texts and fixes the next
    // dictation's id and whether its refinement runs the large model.
    virtual void prepareDictation(DictationId dictation, bool largeModelEnabled) = 0;

    // Each refinement reports its Base stage once (text or failure) and, after
    // a Base text and when its dictation was prepared with the large model,
    // its Large stage once.
    virtual void setOnRefinedText(TextHandler handler) = 0;
    virtual void setOnBaseModelFailed(FailureHandler handler) = 0;
    virtual void setOnLargeModelText(TextHandler handler) = 0;
    virtual void setOnLargeModelFailed(FailureHandler handler) = 0;

    // Minutes of the last cloud dictation that the server's usage figures did
    // not already include.
    virtual double cloudMinutesNotCountedByServer() const = 0;
    // Why the cloud gave no text for the last dictation, whose live text then
    // stood in; empty when it did not fail.
    virtual QString cloudFailureOfLastStop() const = 0;
    // The live text of the dictation under way or being stopped: what stands
    // in when its final text never comes.
    virtual QString liveTextSoFar() const = 0;
};

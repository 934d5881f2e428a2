#pragma once

#include <QString>

#include <functional>

// What the coordinator needs of its transcriber beyond one session: the
// per-dictation settings, the refinement reports that follow a parallel
// dictation, and the cloud minutes of the last cloud dictation.
class TranscriberRefinement {
public:
    using TextHandler = std::function<void(const QString &)>;
    using FailureHandler = std::function<void()>;

    virtual ~TranscriberRefinement() = default;

    // Empties the live texts before a start.
    virtual void clearLiveText() = 0;
    // Read by the transcriber at its stop.
    virtual void setLargeModelEnabled(bool enabled) = 0;

    // Each refinement reports its Base stage once (text or failure) and, when
    // the large model was enabled at its stop, its Large stage once after
    // that. Refinements report in the order of their stops.
    virtual void setOnRefinedText(TextHandler handler) = 0;
    virtual void setOnBaseModelFailed(FailureHandler handler) = 0;
    virtual void setOnLargeModelText(TextHandler handler) = 0;
    virtual void setOnLargeModelFailed(FailureHandler handler) = 0;

    // Minutes of the last cloud dictation that the server's usage figures did
    // not already include.
    virtual double cloudMinutesNotCountedByServer() const = 0;
};

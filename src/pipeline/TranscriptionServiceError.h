#pragma once

#include "support/DescribedError.h"

// Why the offline Whisper service could not start, or gave no final text.
class TranscriptionServiceError : public DescribedErrorOf<TranscriptionServiceError> {
public:
    enum class Kind {
        missingASRModel,
        finalizeTimedOut,
    };

    static TranscriptionServiceError missingASRModel();
    static TranscriptionServiceError finalizeTimedOut();

    Kind kind() const { return m_kind; }

private:
    TranscriptionServiceError(Kind kind, const QString &description);

    Kind m_kind;
};

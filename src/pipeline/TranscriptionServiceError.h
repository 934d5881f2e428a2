#pragma once

#include "support/DescribedError.h"

// Why the offline Whisper service could not start.
class TranscriptionServiceError : public DescribedErrorOf<TranscriptionServiceError> {
public:
    enum class Kind {
        missingASRModel,
    };

    static TranscriptionServiceError missingASRModel();

    Kind kind() const { return m_kind; }

private:
    TranscriptionServiceError(Kind kind, const QString &description);

    Kind m_kind;
};

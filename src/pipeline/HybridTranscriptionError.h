#pragma once

#include "support/DescribedError.h"

// Why live on-device recognition could not start.
class HybridTranscriptionError : public DescribedErrorOf<HybridTranscriptionError> {
public:
    enum class Kind {
        speechRecognizerUnavailable,
        speechAuthorizationDenied,
    };

    static HybridTranscriptionError speechRecognizerUnavailable();
    static HybridTranscriptionError speechAuthorizationDenied();

    Kind kind() const { return m_kind; }

private:
    HybridTranscriptionError(Kind kind, const QString &description);

    Kind m_kind;
};

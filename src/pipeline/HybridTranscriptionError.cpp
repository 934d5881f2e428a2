#include "HybridTranscriptionError.h"

HybridTranscriptionError::HybridTranscriptionError(Kind kind, const QString &description)
    : DescribedErrorOf(description)
    , m_kind(kind)
{
}

HybridTranscriptionError HybridTranscriptionError::speechRecognizerUnavailable()
{
    return { Kind::speechRecognizerUnavailable,
             QStringLiteral("The live speech recognizer is unavailable for this language.") };
}

HybridTranscriptionError HybridTranscriptionError::speechAuthorizationDenied()
{
    return { Kind::speechAuthorizationDenied, QStringLiteral("Speech recognition permission denied.") };
}

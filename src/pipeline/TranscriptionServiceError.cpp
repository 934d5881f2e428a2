#include "TranscriptionServiceError.h"

TranscriptionServiceError::TranscriptionServiceError(Kind kind, const QString &description)
    : DescribedErrorOf(description)
    , m_kind(kind)
{
}

TranscriptionServiceError TranscriptionServiceError::missingASRModel()
{
    return { Kind::missingASRModel,
             QStringLiteral("No Whisper ASR model is installed. Please download Whisper Base or Whisper Large first.") };
}

TranscriptionServiceError TranscriptionServiceError::finalizeTimedOut()
{
    return { Kind::finalizeTimedOut, QStringLiteral("Whisper did not finish the transcription in time.") };
}

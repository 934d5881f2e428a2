#include "CoordinatorRig.h"

#include "pipeline/CloudflareTranscriptionService.h"
#include "pipeline/WhisperOfflineTranscriptionService.h"

CoordinatorParts::CoordinatorParts()
{
    audioInput.setFormat({16000.0, 1});
    rewriter.mark = QStringLiteral("rewritten: ");
    auto polish = std::make_unique<FakeRewriter>();
    polish->mark = QStringLiteral("polished: ");
    polisher = polish.get();
    postProcessor = std::make_unique<TranscriptPostProcessor>(&models, std::move(polish));
}

DictationSessionCoordinator::Services CoordinatorParts::services()
{
    return services(transcriber, transcriber);
}

DictationSessionCoordinator::Services CoordinatorParts::services(RealtimeTranscriptionService &transcription,
                                                                 TranscriberRefinement &refinement)
{
    return {capture, transcription, refinement, injector, learning, *postProcessor, rewriter,
            workspace, usage, models, clock};
}

RealTranscriberPart::RealTranscriberPart(ModelManager &models, SpeechRecognition &recognition, MonotonicClock &clock)
    : engine(std::make_shared<FakeWhisperEngineAdapter::Script>())
    , hybrid(models,
             std::make_unique<WhisperOfflineTranscriptionService>(
                 models, std::make_unique<FakeWhisperEngineAdapter>(engine), clock),
             std::make_unique<CloudflareTranscriptionService>(clock), recognition, clock)
{
}

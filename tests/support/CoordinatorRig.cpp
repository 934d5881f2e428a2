#include "CoordinatorRig.h"

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
    return {capture, transcriber, transcriber, injector, learning, *postProcessor, rewriter,
            workspace, usage, models, clock};
}

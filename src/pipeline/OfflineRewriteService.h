#pragma once

#include "pipeline/RewriteService.h"
#include "support/SerialExecutor.h"

class ModelManager;

// Restyles a transcript by fixed text rules, on the device, one call at a time
// on its own executor. The language is accepted and ignored.
class OfflineRewriteService : public RewriteService {
public:
    explicit OfflineRewriteService(ModelManager *modelManager = nullptr);

    QFuture<QString> rewrite(const QString &text, RewritePreset preset, LanguageOption language) override;

    // The rules themselves, run in the calling thread.
    static QString rewritten(const QString &text, RewritePreset preset);

private:
    ModelManager *m_modelManager; // held for the model-backed rewrite; the rules need none
    SerialExecutor m_executor;
};

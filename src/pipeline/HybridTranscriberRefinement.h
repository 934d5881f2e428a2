#pragma once

#include "pipeline/TranscriberRefinement.h"

class CloudflareTranscriptionService;
class HybridRealtimeTranscriptionService;

// The hybrid transcriber's refinement side, and the cloud service it routes
// the cloud modes to (none when it has no cloud service of that type).
class HybridTranscriberRefinement : public TranscriberRefinement {
public:
    HybridTranscriberRefinement(HybridRealtimeTranscriptionService &hybrid, const CloudflareTranscriptionService *cloud);

    void clearLiveText() override;
    void setLargeModelEnabled(bool enabled) override;
    void setOnRefinedText(TextHandler handler) override;
    void setOnBaseModelFailed(FailureHandler handler) override;
    void setOnLargeModelText(TextHandler handler) override;
    void setOnLargeModelFailed(FailureHandler handler) override;
    double cloudMinutesNotCountedByServer() const override;

private:
    HybridRealtimeTranscriptionService &m_hybrid;
    const CloudflareTranscriptionService *m_cloud;
};

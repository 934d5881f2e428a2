#include "HybridTranscriberRefinement.h"

#include "pipeline/CloudflareTranscriptionService.h"
#include "pipeline/HybridRealtimeTranscriptionService.h"

HybridTranscriberRefinement::HybridTranscriberRefinement(HybridRealtimeTranscriptionService &hybrid,
                                                         const CloudflareTranscriptionService *cloud)
    : m_hybrid(hybrid)
    , m_cloud(cloud)
{
}

void HybridTranscriberRefinement::clearLiveText()
{
    m_hybrid.clearLiveText();
}

void HybridTranscriberRefinement::setLargeModelEnabled(bool enabled)
{
    m_hybrid.setLargeModelEnabled(enabled);
}

void HybridTranscriberRefinement::setOnRefinedText(TextHandler handler)
{
    m_hybrid.setOnRefinedText(std::move(handler));
}

void HybridTranscriberRefinement::setOnBaseModelFailed(FailureHandler handler)
{
    m_hybrid.setOnBaseModelFailed(std::move(handler));
}

void HybridTranscriberRefinement::setOnLargeModelText(TextHandler handler)
{
    m_hybrid.setOnLargeModelText(std::move(handler));
}

void HybridTranscriberRefinement::setOnLargeModelFailed(FailureHandler handler)
{
    m_hybrid.setOnLargeModelFailed(std::move(handler));
}

double HybridTranscriberRefinement::cloudMinutesNotCountedByServer() const
{
    return m_cloud ? m_cloud->minutesNotCountedByServer() : 0.0;
}

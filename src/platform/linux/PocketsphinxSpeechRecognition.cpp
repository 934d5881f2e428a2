#include "PocketsphinxSpeechRecognition.h"

#include "PocketsphinxDecoder.h"
#include "PocketsphinxRecognitionTask.h"

namespace {
class PocketsphinxSpeechRecognizer : public SpeechRecognizer {
public:
    PocketsphinxSpeechRecognizer(QString localeIdentifier, std::shared_ptr<PocketsphinxDecoderPool> pool)
        : m_locale(std::move(localeIdentifier))
        , m_pool(std::move(pool))
    {
    }

    QString localeIdentifier() const override { return m_locale; }
    bool isAvailable() const override { return m_pool->model().isInstalled(); }
    bool supportsOnDeviceRecognition() const override { return true; }

    std::shared_ptr<RecognitionTask> recognitionTask(std::shared_ptr<RecognitionRequest> request,
                                                     RecognitionResultHandler handler) override
    {
        return std::make_shared<PocketsphinxRecognitionTask>(m_pool, std::move(request), std::move(handler));
    }

private:
    QString m_locale;
    std::shared_ptr<PocketsphinxDecoderPool> m_pool;
};
} // namespace

QString PocketsphinxSpeechRecognition::defaultModelRoot()
{
    return QStringLiteral("/usr/share/pocketsphinx/model");
}

PocketsphinxSpeechRecognition::PocketsphinxSpeechRecognition(QString modelRoot)
    : m_modelRoot(std::move(modelRoot))
{
}

PocketsphinxSpeechRecognition::~PocketsphinxSpeechRecognition()
{
    for (const auto &pool : std::as_const(m_pools))
        pool->shutdown();
}

QFuture<SpeechAuthorizationStatus> PocketsphinxSpeechRecognition::requestAuthorization()
{
    return QtFuture::makeReadyFuture(SpeechAuthorizationStatus::authorized);
}

std::unique_ptr<SpeechRecognizer> PocketsphinxSpeechRecognition::recognizer(const QString &localeIdentifier)
{
    const std::optional<PocketsphinxModel> model = PocketsphinxModel::forLocale(m_modelRoot, localeIdentifier);
    if (!model)
        return nullptr;
    std::lock_guard lock(m_mutex);
    auto &pool = m_pools[localeIdentifier];
    if (!pool)
        pool = std::make_shared<PocketsphinxDecoderPool>(*model);
    return std::make_unique<PocketsphinxSpeechRecognizer>(localeIdentifier, pool);
}

#include "WhisperSpeechRecognition.h"

#include "models/ModelDescriptor.h"
#include "models/ModelManager.h"
#include "support/Log.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>

namespace {
constexpr char kTag[] = "LiveSpeech";

std::optional<LanguageOption> languageOfLocale(const QString &localeIdentifier)
{
    for (const LanguageOption language : Enums::allCases<LanguageOption>()) {
        if (LanguageOptions::localeIdentifier(language) == localeIdentifier)
            return language;
    }
    return std::nullopt;
}

class WhisperSpeechRecognizer : public SpeechRecognizer {
public:
    WhisperSpeechRecognizer(QString localeIdentifier, WhisperRecognitionTask::Setup setup,
                            std::shared_ptr<WhisperRecognitionTask::Workers> workers)
        : m_locale(std::move(localeIdentifier))
        , m_setup(std::move(setup))
        , m_workers(std::move(workers))
    {
    }

    QString localeIdentifier() const override { return m_locale; }
    bool isAvailable() const override { return QFileInfo::exists(m_setup.modelPath); }
    bool supportsOnDeviceRecognition() const override { return true; }

    std::shared_ptr<RecognitionTask> recognitionTask(std::shared_ptr<RecognitionRequest> request,
                                                     RecognitionResultHandler handler) override
    {
        return std::make_shared<WhisperRecognitionTask>(m_setup, m_workers, std::move(request), std::move(handler));
    }

private:
    QString m_locale;
    WhisperRecognitionTask::Setup m_setup;
    std::shared_ptr<WhisperRecognitionTask::Workers> m_workers;
};
} // namespace

WhisperSpeechRecognition::InstalledModel WhisperSpeechRecognition::installedBase(ModelManager &models)
{
    return [models = QPointer<ModelManager>(&models)] {
        const ModelDescriptor &base = ModelDescriptor::whisperBase();
        return models && models->isInstalled(base) ? QDir(models->modelsDirectory()).filePath(base.id) : QString();
    };
}

WhisperSpeechRecognition::WhisperSpeechRecognition(SpeechRecognition &fallback, InstalledModel baseModel,
                                                   WhisperCppEngineAdapter::ModelCache &models,
                                                   WhisperRecognitionTask::OpenDecoder openDecoder)
    : m_fallback(fallback)
    , m_baseModel(std::move(baseModel))
    , m_models(models)
    , m_openDecoder(openDecoder ? std::move(openDecoder)
                                : WhisperRecognitionTask::whisperCppDecoders(
                                      models, WhisperCppEngineAdapter::activeProcessorCount))
    , m_workers(std::make_shared<WhisperRecognitionTask::Workers>())
{
}

WhisperSpeechRecognition::~WhisperSpeechRecognition()
{
    m_workers->shutdown();
}

QFuture<SpeechAuthorizationStatus> WhisperSpeechRecognition::requestAuthorization()
{
    return m_fallback.requestAuthorization();
}

std::unique_ptr<SpeechRecognizer> WhisperSpeechRecognition::recognizer(const QString &localeIdentifier)
{
    const QString model = m_baseModel ? m_baseModel() : QString();
    const std::optional<LanguageOption> language = languageOfLocale(localeIdentifier);
    QString reason;
    if (model.isEmpty())
        reason = QStringLiteral("Whisper Base is not installed");
    else if (m_models.failedToLoad(model))
        reason = QStringLiteral("Whisper Base failed to load");
    else if (!language)
        reason = QStringLiteral("Whisper has no such dictation language");
    if (!reason.isEmpty()) {
        logLine(kTag, QStringLiteral("Recognizer for %1: pocketsphinx (%2)").arg(localeIdentifier, reason));
        return m_fallback.recognizer(localeIdentifier);
    }
    logLine(kTag, QStringLiteral("Recognizer for %1: Whisper Base (%2)").arg(localeIdentifier, model));
    WhisperRecognitionTask::Setup setup { model, *language, m_openDecoder };
    return std::make_unique<WhisperSpeechRecognizer>(localeIdentifier, std::move(setup), m_workers);
}

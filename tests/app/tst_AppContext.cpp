#include "app/AppContext.h"
#include "app/MenubarViewModel.h"
#include "models/CoreMLEncoderDownloader.h"
#include "models/ModelManager.h"
#include "pipeline/DictationSessionCoordinator.h"
#include "pipeline/CloudUsageTracker.h"
#include "pipeline/GlobalHotkeyService.h"
#include "platform/fake/FakePlatform.h"
#include "platform/linux/IniSettings.h"
#include "profile/InsightEngine.h"
#include "profile/PrivacyPreferences.h"
#include "profile/VoiceProfileStore.h"
#include "speech/F5TTSService.h"
#include "speech/TextToSpeechService.h"
#include "support/FutureWait.h"
#include "support/LoopbackHttpServer.h"
#include "support/SharedInstance.h"
#include "support/WhisperModelWriter.h"

#include <QtTest>

namespace {
// Fakes everywhere but the settings file, read at each launch as a new process
// reads it: as text. (Reopened at the same path, QSettings would hand back the
// typed values it cached.)
class SettingsFilePlatform : public FakePlatform {
public:
    explicit SettingsFilePlatform(QString directory)
        : m_directory(std::move(directory))
    {
        relaunch();
    }
    Settings &settings() override { return *m_file; }
    void relaunch()
    {
        const QString next = QDir(m_directory).filePath(QStringLiteral("launch%1.conf").arg(++m_launches));
        if (m_file)
            QFile::copy(m_path, next);
        m_path = next;
        m_file = std::make_unique<IniSettings>(next);
    }

private:
    QString m_directory;
    QString m_path;
    int m_launches = 0;
    std::unique_ptr<IniSettings> m_file;
};
} // namespace

class tst_AppContext : public QObject {
    Q_OBJECT
private slots:
    void sharedInstancesLiveAndDieWithTheContext();
    void downloadsGoWhereTheyAreSent();
    void dictationChoicesSurviveARestart();
};

void tst_AppContext::sharedInstancesLiveAndDieWithTheContext()
{
    FakePlatform &platform = FakePlatform::installNew();
    auto context = std::make_unique<AppContext>(platform);
    QCOMPARE(&VoiceProfileStore::shared(), &context->profileStore());
    QCOMPARE(&InsightEngine::shared(), &context->insightEngine());
    QCOMPARE(&PrivacyPreferences::shared(), &context->privacyPreferences());
    QCOMPARE(&CloudUsageTracker::shared(), &context->usageTracker());
    QCOMPARE(&TextToSpeechService::shared(), &context->textToSpeech());
    QCOMPARE(&F5TTSService::shared(), &context->voicePack());
    QCOMPARE(&GlobalHotkeyService::shared(), &context->hotkeys());

    context.reset();
    QVERIFY(!SharedInstance<VoiceProfileStore>::installed());
    QVERIFY(!SharedInstance<InsightEngine>::installed());
    QVERIFY(!SharedInstance<PrivacyPreferences>::installed());
    QVERIFY(!SharedInstance<CloudUsageTracker>::installed());
    QVERIFY(!SharedInstance<TextToSpeechService>::installed());
    QVERIFY(!SharedInstance<F5TTSService>::installed());
    QVERIFY(!SharedInstance<GlobalHotkeyService>::installed());
}

void tst_AppContext::downloadsGoWhereTheyAreSent()
{
    const QUrl model(QStringLiteral("https://huggingface.co/ggerganov/whisper.cpp/resolve/main/ggml-base.bin?download=1"));
    QCOMPARE(AppContext::rebased(model, QUrl(QStringLiteral("http://127.0.0.1:9/mirror/"))),
             QUrl(QStringLiteral("http://127.0.0.1:9/mirror/ggerganov/whisper.cpp/resolve/main/ggml-base.bin?download=1")));

    FakePlatform &platform = FakePlatform::installNew();
    LoopbackHttpServer server;
    AppContext::Options options;
    options.downloadBaseURL = server.url(QStringLiteral("/mirror"));
    options.whisperModels = WhisperModelShape::tinyFamily();
    AppContext context(platform, options);
    QCOMPARE(context.launchDownloads().size(), 3);
    for (const ModelDescriptor &descriptor : context.launchDownloads())
        QCOMPARE(descriptor.downloadURL.authority(), server.url().authority());

    // the encoder archives follow the models
    const QDir models(*context.modelManager().containerModelsDirectory());
    QVERIFY(models.mkpath(QStringLiteral(".")));
    QCOMPARE(WhisperModelWriter::writeTinyModel(models.filePath(QStringLiteral("ggml-base.bin"))), QString());
    QVERIFY(waitForFuture(context.encoderFetcher().downloadMissingEncoders(), 30'000));
    QVERIFY(server.requestCount() >= 1);
    for (const auto &request : server.requests())
        QCOMPARE(request.path(), QStringLiteral("/mirror/ggerganov/whisper.cpp/resolve/main/ggml-base-encoder.mlmodelc.zip"));
}

void tst_AppContext::dictationChoicesSurviveARestart()
{
    QTemporaryDir home;
    auto installed = std::make_unique<SettingsFilePlatform>(home.path());
    SettingsFilePlatform &platform = *installed;
    Platform::install(std::move(installed));
    const QVariantMap chosen{{"selectedLanguage", "de"},       {"selectedPreset", "concise"},
                             {"selectedASRModel", "whisperBase"}, {"fillerRemovalEnabled", false},
                             {"autoRewriteEnabled", false},     {"largeModelEnabled", true},
                             {"postProcessingEnabled", false}};
    // Each choice reaches the coordinator when made and again at the next launch.
    for (int launch = 0; launch < 2; ++launch) {
        platform.relaunch();
        AppContext context(platform);
        for (auto it = chosen.begin(); it != chosen.end(); ++it) {
            if (launch == 0)
                context.viewModel().setProperty(qPrintable(it.key()), it.value());
            QCOMPARE(context.viewModel().property(qPrintable(it.key())), it.value());
        }
        // an unknown name changes nothing
        context.viewModel().setProperty("selectedLanguage", QStringLiteral("xx"));
        const DictationSessionCoordinator &c = context.coordinator();
        QCOMPARE(c.selectedLanguage, LanguageOption::german);
        QCOMPARE(c.selectedPreset, RewritePreset::concise);
        QCOMPARE(c.selectedASRModel, ASRModelPreference::whisperBase);
        QVERIFY(!c.fillerRemovalEnabled && !c.autoRewriteEnabled && c.largeModelEnabled && !c.postProcessingEnabled);
    }
    // Unreadable entries start from the initial values; the file's own text form reads back.
    platform.settings().setValue(QStringLiteral("dictation/selectedLanguage"), QStringLiteral("Deutsch"));
    platform.settings().setValue(QStringLiteral("dictation/autoRewriteEnabled"), QStringLiteral("maybe"));
    platform.settings().setValue(QStringLiteral("dictation/largeModelEnabled"), QStringLiteral("false"));
    platform.relaunch();
    AppContext third(platform);
    QCOMPARE(third.viewModel().selectedLanguage(), LanguageOption::english);
    QCOMPARE(third.coordinator().selectedLanguage, LanguageOption::english);
    QVERIFY(third.viewModel().autoRewriteEnabled() && !third.viewModel().largeModelEnabled());
    QCOMPARE(third.viewModel().selectedPreset(), RewritePreset::concise);
}

QTEST_MAIN(tst_AppContext)
#include "tst_AppContext.moc"

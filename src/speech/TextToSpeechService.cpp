#include "TextToSpeechService.h"

#include "models/ModelManager.h"
#include "pipeline/TextInjectionService.h"
#include "platform/AudioOutput.h"
#include "platform/NpyzReader.h"
#include "platform/Platform.h"
#include "platform/Settings.h"
#include "models/ModelDescriptor.h"
#include "models/FileDownload.h"
#include "speech/NeuralSpeech.h"
#include "speech/SelectionReader.h"
#include "support/DescribedError.h"
#include "support/FutureWatch.h"
#include "support/Log.h"
#include "support/SharedInstance.h"
#include "support/MonotonicClock.h"
#include "support/TextUtils.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTextBoundaryFinder>

#include <algorithm>

namespace {
const char *const kTag = "TTS";
const QString kDefaultVoice = QStringLiteral("bm_george");
const QString kNoSelection = QStringLiteral("No text selected.");
const QString kNoSummary = QStringLiteral("No summary available yet.");
const QString kEntrySuffix = QStringLiteral(".npy");
// the platform's default speaking rate and pitch, scaled
constexpr double kSystemRate = 0.92;
constexpr double kSystemPitch = 1.05;


// Grapheme boundaries of text, from 0 to its length.
QList<qsizetype> graphemeBoundaries(const QString &text)
{
    QList<qsizetype> boundaries{0};
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype at = finder.toNextBoundary(); at != -1; at = finder.toNextBoundary())
        boundaries << at;
    return boundaries;
}

QString kokoroLabel(const QString &voice)
{
    return QStringLiteral("Kokoro AI (%1)").arg(voice);
}
} // namespace

TextToSpeechService::Sources TextToSpeechService::Sources::under(const QUrl &repository)
{
    const QString base = repository.toString(QUrl::StripTrailingSlash) + QLatin1Char('/');
    return {QUrl(base + QStringLiteral("raw/main/Resources/kokoro-v1_0.safetensors")),
            QUrl(base + QStringLiteral("raw/main/Resources/voices.npz"))};
}

TextToSpeechService::Sources TextToSpeechService::Sources::defaults()
{
    return under(QUrl(QStringLiteral("https://github.com/tavrune/tavrune-voice-assets")));
}

TextToSpeechService::TextToSpeechService(Collaborators collaborators, QObject *parent)
    : QObject(parent)
    , m_settings(collaborators.settings)
    , m_audioOutput(collaborators.audioOutput)
    , m_systemSynthesizer(collaborators.systemSynthesizer)
    , m_neuralEngine(collaborators.neuralEngine)
    , m_selectionReader(collaborators.selectionReader)
    , m_sources(collaborators.sources)
    , m_modelsDirectory(collaborators.modelsDirectory)
{
    m_selectedVoice = m_settings.string(selectedVoiceKey).value_or(kDefaultVoice);
    QDir().mkpath(m_modelsDirectory);
    connect(&m_systemSynthesizer, &SystemSpeechSynthesizer::finished, this, [this](quint64 utterance) {
        // a report of an earlier utterance leaves a newer speech alone
        if (utterance == 0 || utterance != m_systemUtterance)
            return;
        m_systemUtterance = 0;
        setIsSpeaking(false);
    });
    m_bestSystemVoice = findBestSystemVoice(m_systemSynthesizer.voices());
    m_isModelDownloaded = QFile::exists(modelFileURL());
    if (m_isModelDownloaded && m_neuralEngine.isAvailable())
        loadModel();
    else
        m_engineLabel = systemVoiceLabel();
}

TextToSpeechService::~TextToSpeechService()
{
    SharedInstance<TextToSpeechService>::release(this);
}

TextToSpeechService &TextToSpeechService::shared()
{
    if (TextToSpeechService *installed = SharedInstance<TextToSpeechService>::installed())
        return *installed;
    Platform &platform = Platform::instance();
    static TextInjectionService keys(platform, MonotonicClock::system());
    static SelectionReader reader(platform.workspace(), platform.accessibility(), platform.pasteboard(), keys,
                                  MonotonicClock::system());
    static TextToSpeechService service({platform.settings(), platform.audioOutput(),
                                        platform.systemSpeechSynthesizer(), platform.neuralVoiceEngine(), reader,
                                        ModelManager(platform.paths()).modelsDirectory()});
    return service;
}

void TextToSpeechService::setShared(TextToSpeechService *service)
{
    SharedInstance<TextToSpeechService>::install(service);
}

QString TextToSpeechService::modelFileURL() const
{
    return QDir(m_modelsDirectory).filePath(modelFileName);
}

QString TextToSpeechService::voicesFileURL() const
{
    return QDir(m_modelsDirectory).filePath(voicesFileName);
}

QString TextToSpeechService::systemVoiceLabel() const
{
    return m_bestSystemVoice ? m_bestSystemVoice->name : QStringLiteral("System Default");
}

std::optional<SystemSpeechSynthesizer::Voice>
TextToSpeechService::findBestSystemVoice(const QList<SystemSpeechSynthesizer::Voice> &voices)
{
    QList<SystemSpeechSynthesizer::Voice> candidates;
    for (const auto &voice : voices) {
        if (voice.language.startsWith(QLatin1String("en"), Qt::CaseInsensitive))
            candidates << voice;
    }
    if (candidates.isEmpty())
        candidates = voices;
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const auto &a, const auto &b) { return a.quality > b.quality; });
    if (candidates.isEmpty())
        return std::nullopt;
    return candidates.first();
}

// ---- speaking

void TextToSpeechService::speak(const QString &text)
{
    if (text.isEmpty())
        return;
    stop();
    if (m_isModelLoaded)
        speakWithKokoro(text);
    else
        speakWithSystemVoice(text);
}

void TextToSpeechService::stop()
{
    ++m_speech;
    m_audioOutput.stop();
    m_systemUtterance = 0;
    if (m_systemSynthesizer.isSpeaking())
        m_systemSynthesizer.stopSpeaking();
    setIsSpeaking(false);
}

void TextToSpeechService::speakWithSystemVoice(const QString &text)
{
    ++m_speech;
    SystemSpeechSynthesizer::Utterance utterance{text, kSystemRate, kSystemPitch, m_bestSystemVoice};
    setIsSpeaking(true);
    m_systemUtterance = m_systemSynthesizer.speak(utterance);
}

void TextToSpeechService::speakWithKokoro(const QString &text)
{
    if (!m_ttsEngine || !m_embedding || m_embeddingKey != m_selectedVoice + kEntrySuffix) {
        speakWithSystemVoice(text);
        return;
    }
    const quint64 speech = ++m_speech;
    m_systemUtterance = 0;
    setIsSpeaking(true);
    const auto language = m_selectedVoice.startsWith(QLatin1Char('a')) ? NeuralVoiceModel::Language::americanEnglish
                                                                         : NeuralVoiceModel::Language::britishEnglish;
    const QPointer<TextToSpeechService> self(this);
    auto *loop = new NeuralSpeech(
        splitIntoChunks(text, chunkLength), {m_ttsEngine, m_embedding, language},
        {m_synthesisQueue, m_neuralEngine, m_audioOutput},
        [self, speech] { return self && self->m_speech == speech; },
        [self, speech] {
            if (self && self->m_speech == speech)
                self->setIsSpeaking(false);
        },
        this);
    loop->start();
}

QStringList TextToSpeechService::splitIntoChunks(const QString &text, int maxLength)
{
    QList<qsizetype> bounds = graphemeBoundaries(text);
    if (bounds.size() - 1 <= maxLength)
        return {text};
    static const QStringList separators{QStringLiteral(". "), QStringLiteral(".\n"), QStringLiteral("! "),
                                        QStringLiteral("? "), QStringLiteral("; "), QStringLiteral(", "),
                                        QStringLiteral("\n")};
    QStringList chunks;
    QString remainder = text;
    while (bounds.size() - 1 > maxLength) {
        const qsizetype windowEnd = bounds.at(maxLength);
        const QStringView window = QStringView(remainder).first(windowEnd);
        qsizetype cut = windowEnd;
        for (const QString &separator : separators) {
            const qsizetype at = window.lastIndexOf(separator);
            if (at >= 0) {
                cut = at + separator.size();
                break;
            }
        }
        const QString piece = TextUtils::trimmed(remainder.left(cut));
        if (!piece.isEmpty())
            chunks << piece;
        remainder = remainder.mid(cut);
        if (remainder.isEmpty())
            return chunks;
        bounds = graphemeBoundaries(remainder);
    }
    const QString last = TextUtils::trimmed(remainder);
    if (!last.isEmpty())
        chunks << last;
    return chunks;
}

// ---- the neural voice files

bool TextToSpeechService::neuralEngineAvailable()
{
    if (m_neuralEngine.isAvailable())
        return true;
    if (!m_unavailableLogged) {
        m_unavailableLogged = true;
        logLine(kTag, "No neural voice engine on this platform: speaking with the system voice, "
                      "voice files not downloaded");
    }
    return false;
}

void TextToSpeechService::prepareOnLaunch()
{
    if (!neuralEngineAvailable())
        return;
    if (!m_isModelDownloaded) {
        QMetaObject::invokeMethod(this, [this] { downloadModelFiles(); }, Qt::QueuedConnection);
        return;
    }
    if (!m_isModelLoaded)
        loadModel();
}

QFuture<void> TextToSpeechService::downloadFile(const QUrl &source, const QString &destination, const QString &label)
{
    logLine(kTag, QStringLiteral("Downloading %1...").arg(label));
    const QPointer<TextToSpeechService> self(this);
    // the voice archive is a zip of a few dozen MB; the weights are the catalogue's Kokoro file
    const DownloadAcceptance acceptance = destination == voicesFileURL()
                                              ? DownloadAcceptance(DownloadAcceptance::Format::zip, 256'000'000)
                                              : DownloadAcceptance(DownloadAcceptance::Format::safetensors,
                                                                   2 * ModelDescriptor::kokoroTTS().expectedBytes);
    return FileDownload::fetch(m_network, source, destination, acceptance, [self](double fraction) {
        if (self)
            self->setDownloadProgress(fraction);
    }, this, m_sources.idleTimeout);
}

QFuture<void> TextToSpeechService::downloadModelFiles()
{
    if (m_isDownloading)
        return QtFuture::makeReadyFuture();
    setIsDownloading(true);
    setDownloadProgress(0);
    auto done = Futures::startedPromise<void>();
    downloadFile(m_sources.voicesDownloadURL, voicesFileURL(), QStringLiteral("voices"))
        .then(this, [this] {
            setDownloadProgress(0);
            return downloadFile(m_sources.modelDownloadURL, modelFileURL(), QStringLiteral("model"));
        })
        .unwrap()
        .then(this, [this, done] {
            setIsDownloading(false);
            setIsModelDownloaded(true);
            loadModel();
            done->finish();
        })
        .onFailed(this, [this, done] {
            logLine(kTag, QStringLiteral("Download failed: %1").arg(describeException(std::current_exception())));
            setIsDownloading(false);
            done->finish();
        });
    return done->future();
}

void TextToSpeechService::loadModel()
{
    if (!m_isModelDownloaded || m_isModelLoaded || !neuralEngineAvailable())
        return;
    logLine(kTag, "Loading Kokoro TTS model...");
    QMetaObject::invokeMethod(this, &TextToSpeechService::finishLoad, Qt::QueuedConnection);
}

std::shared_ptr<const NpyArray> TextToSpeechService::readEmbedding(const QString &voice)
{
    NpyzReader archive(voicesFileURL());
    std::optional<NpyArray> embedding;
    if (archive.open())
        embedding = archive.read(voice + kEntrySuffix);
    if (!embedding) {
        logLine(kTag, QStringLiteral("Voice %1 unavailable: %2").arg(voice, archive.errorString()));
        return nullptr;
    }
    return std::make_shared<const NpyArray>(std::move(*embedding));
}

void TextToSpeechService::finishLoad()
{
    m_neuralEngine.setCacheLimit(neuralCacheLimit);
    std::shared_ptr<NeuralVoiceModel> engine = m_neuralEngine.createModel(modelFileURL());
    m_neuralEngine.clearCache();
    if (!engine)
        return;

    QStringList names;
    if (QFile::exists(voicesFileURL())) {
        NpyzReader archive(voicesFileURL());
        if (!archive.open())
            logLine(kTag, QStringLiteral("Cannot read the voices: %1").arg(archive.errorString()));
        for (const QString &entry : archive.entryNames()) {
            // entries without a name before their first "." name no voice
            const QString name = entry.section(QLatin1Char('.'), 0, 0);
            if (!name.isEmpty() && !names.contains(name))
                names << name;
        }
    }
    std::sort(names.begin(), names.end());

    std::optional<QString> fallback;
    for (const QString &preferred : preferredDefaultVoices) {
        if (names.contains(preferred)) {
            fallback = preferred;
            break;
        }
    }
    if (!fallback && !names.isEmpty())
        fallback = names.first();
    const QString voice = names.contains(m_selectedVoice) ? m_selectedVoice : fallback.value_or(QString());

    m_embedding = voice.isEmpty() ? nullptr : readEmbedding(voice);
    m_embeddingKey = m_embedding ? voice + kEntrySuffix : QString();
    m_neuralEngine.clearCache();
    m_ttsEngine = std::move(engine);
    setAvailableVoices(names);
    if (!names.contains(m_selectedVoice) && fallback)
        setSelectedVoice(*fallback);
    setIsModelLoaded(true);
    setEngineLabel(kokoroLabel(m_selectedVoice));
    logLine(kTag, QStringLiteral("Kokoro loaded with %1 voices, selected: %2").arg(names.size()).arg(m_selectedVoice));
}

void TextToSpeechService::selectVoice(const QString &voice)
{
    if (!m_availableVoices.contains(voice))
        return;
    setSelectedVoice(voice);
    m_embedding.reset();
    m_embeddingKey.clear();
    QMetaObject::invokeMethod(this, [this, voice] {
        if (QFile::exists(voicesFileURL())) {
            if (std::shared_ptr<const NpyArray> embedding = readEmbedding(voice); embedding && voice == m_selectedVoice) {
                m_embedding = std::move(embedding);
                m_embeddingKey = voice + kEntrySuffix;
            }
            m_neuralEngine.clearCache();
        }
        setEngineLabel(kokoroLabel(voice));
    }, Qt::QueuedConnection);
}

// ---- reading the selection aloud

QString TextToSpeechService::summarize(const QString &text)
{
    const QStringList sentences = TextUtils::trimmedSentences(text);
    const qsizetype n = sentences.size();
    if (n < 4)
        return text;
    const qsizetype k = n < 9 ? 3 : std::min<qsizetype>(n / 3, 5);
    return sentences.first(k).join(QLatin1Char(' '));
}

void TextToSpeechService::summarizeSelectionAndSpeak()
{
    // a second copy would take the first one's restore for the selection
    if (m_readingSelection)
        return;
    m_readingSelection = true;
    m_followed.follow(m_selectionReader.readSelectedText()).then(this, [this](const std::optional<QString> &text) {
        m_readingSelection = false;
        if (!text || text->isEmpty()) {
            speak(kNoSelection);
            return;
        }
        const QString summary = summarize(*text);
        setLastSummary(summary);
        speak(summary);
    });
}

void TextToSpeechService::speakAgain()
{
    speak(m_lastSummary.isEmpty() ? kNoSummary : m_lastSummary);
}

// ---- published state

void TextToSpeechService::setIsSpeaking(bool value)
{
    if (m_isSpeaking == value)
        return;
    m_isSpeaking = value;
    emit isSpeakingChanged();
}

void TextToSpeechService::setLastSummary(const QString &value)
{
    if (m_lastSummary == value)
        return;
    m_lastSummary = value;
    emit lastSummaryChanged();
}

void TextToSpeechService::setIsModelLoaded(bool value)
{
    if (m_isModelLoaded == value)
        return;
    m_isModelLoaded = value;
    emit isModelLoadedChanged();
}

void TextToSpeechService::setIsModelDownloaded(bool value)
{
    if (m_isModelDownloaded == value)
        return;
    m_isModelDownloaded = value;
    emit isModelDownloadedChanged();
}

void TextToSpeechService::setIsDownloading(bool value)
{
    if (m_isDownloading == value)
        return;
    m_isDownloading = value;
    emit isDownloadingChanged();
}

void TextToSpeechService::setDownloadProgress(double value)
{
    if (m_downloadProgress == value)
        return;
    m_downloadProgress = value;
    emit downloadProgressChanged();
}

void TextToSpeechService::setAvailableVoices(const QStringList &value)
{
    if (m_availableVoices == value)
        return;
    m_availableVoices = value;
    emit availableVoicesChanged();
}

void TextToSpeechService::setEngineLabel(const QString &value)
{
    if (m_engineLabel == value)
        return;
    m_engineLabel = value;
    emit engineLabelChanged();
}

void TextToSpeechService::setSelectedVoice(const QString &value)
{
    // every choice is remembered, also one equal to the stored value
    m_settings.setValue(selectedVoiceKey, value);
    if (m_selectedVoice == value)
        return;
    m_selectedVoice = value;
    emit selectedVoiceChanged();
}

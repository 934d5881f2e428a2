#pragma once

#include "models/DownloadAcceptance.h"
#include "platform/NeuralVoiceEngine.h"
#include "platform/SystemSpeechSynthesizer.h"
#include "support/FutureWatch.h"
#include "support/SerialExecutor.h"

#include <QFuture>
#include <QNetworkAccessManager>
#include <QObject>
#include <QStringList>
#include <QUrl>

#include <memory>
#include <optional>

class AudioOutput;
class SelectionReader;
class Settings;

// Speaks text aloud: with the neural voice when its model and the selected
// voice's embedding are loaded, else with the best English system voice.
// Also fetches and loads the neural voice files, and reads the selection of
// the frontmost application aloud as a short summary. Main thread only.
class TextToSpeechService : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isSpeaking READ isSpeaking NOTIFY isSpeakingChanged)
    Q_PROPERTY(QString lastSummary READ lastSummary NOTIFY lastSummaryChanged)
    Q_PROPERTY(bool isModelLoaded READ isModelLoaded NOTIFY isModelLoadedChanged)
    Q_PROPERTY(bool isModelDownloaded READ isModelDownloaded NOTIFY isModelDownloadedChanged)
    Q_PROPERTY(bool isDownloading READ isDownloading NOTIFY isDownloadingChanged)
    Q_PROPERTY(double downloadProgress READ downloadProgress NOTIFY downloadProgressChanged)
    Q_PROPERTY(QString selectedVoice READ selectedVoice NOTIFY selectedVoiceChanged)
    Q_PROPERTY(QStringList availableVoices READ availableVoices NOTIFY availableVoicesChanged)
    Q_PROPERTY(QString engineLabel READ engineLabel NOTIFY engineLabelChanged)

public:
    static inline const QString selectedVoiceKey = QStringLiteral("brv.tts.selectedVoice");
    static inline const QString modelFileName = QStringLiteral("kokoro-v1_0.safetensors");
    static inline const QString voicesFileName = QStringLiteral("voices.npz");
    static inline const QStringList preferredDefaultVoices{QStringLiteral("bm_george"), QStringLiteral("bm_lewis"),
                                                           QStringLiteral("bf_emma"), QStringLiteral("af_sarah")};
    static constexpr int chunkLength = 400;
    static constexpr qint64 neuralCacheLimit = 2'097'152;

    // Where the two voice files come from.
    struct Sources {
        QUrl modelDownloadURL;
        QUrl voicesDownloadURL;
        // how long a silent server is waited for
        std::chrono::milliseconds idleTimeout = DownloadAcceptance::idleTimeout;
        // Both files below one repository's address.
        static Sources under(const QUrl &repository);
        static Sources defaults();
    };

    struct Collaborators {
        Settings &settings;
        AudioOutput &audioOutput;
        SystemSpeechSynthesizer &systemSynthesizer;
        NeuralVoiceEngine &neuralEngine;
        SelectionReader &selectionReader;
        // holds the voice files; created here when missing
        QString modelsDirectory;
        Sources sources = Sources::defaults();
    };

    explicit TextToSpeechService(Collaborators collaborators, QObject *parent = nullptr);
    ~TextToSpeechService() override;

    // The application's instance: the one installed, else one built on
    // first use from the installed platform.
    static TextToSpeechService &shared();
    static void setShared(TextToSpeechService *service);

    bool isSpeaking() const { return m_isSpeaking; }
    QString lastSummary() const { return m_lastSummary; }
    bool isModelLoaded() const { return m_isModelLoaded; }
    bool isModelDownloaded() const { return m_isModelDownloaded; }
    bool isDownloading() const { return m_isDownloading; }
    double downloadProgress() const { return m_downloadProgress; }
    QString selectedVoice() const { return m_selectedVoice; }
    QStringList availableVoices() const { return m_availableVoices; }
    QString engineLabel() const { return m_engineLabel; }

    QString modelsDirectory() const { return m_modelsDirectory; }
    // local paths of the two voice files
    QString modelFileURL() const;
    QString voicesFileURL() const;

    // Speaking. Each returns at once; speech goes on asynchronously.
    Q_INVOKABLE void speak(const QString &text);
    Q_INVOKABLE void stop();
    Q_INVOKABLE void speakWithKokoro(const QString &text);
    Q_INVOKABLE void speakWithSystemVoice(const QString &text);

    // The neural voice files.
    void prepareOnLaunch();
    // Finishes when both files are in place and loading has started, or
    // when the download failed (logged) or was refused because one runs.
    QFuture<void> downloadModelFiles();
    void loadModel();
    Q_INVOKABLE void selectVoice(const QString &voice);

    // Reading the selection aloud.
    Q_INVOKABLE void summarizeSelectionAndSpeak();
    Q_INVOKABLE void speakAgain();

    // The installed system voice speech uses: the best of the English ones,
    // else of all; none when the synthesizer has no voice.
    static std::optional<SystemSpeechSynthesizer::Voice>
    findBestSystemVoice(const QList<SystemSpeechSynthesizer::Voice> &voices);
    // Pieces of at most maxLength characters, cut after the strongest
    // separator in each window.
    static QStringList splitIntoChunks(const QString &text, int maxLength);
    // The selection itself up to three sentences, else its leading sentences.
    static QString summarize(const QString &text);

signals:
    void isSpeakingChanged();
    void lastSummaryChanged();
    void isModelLoadedChanged();
    void isModelDownloadedChanged();
    void isDownloadingChanged();
    void downloadProgressChanged();
    void selectedVoiceChanged();
    void availableVoicesChanged();
    void engineLabelChanged();

private:
    void setIsSpeaking(bool value);
    void setLastSummary(const QString &value);
    void setIsModelLoaded(bool value);
    void setIsModelDownloaded(bool value);
    void setIsDownloading(bool value);
    void setDownloadProgress(double value);
    void setSelectedVoice(const QString &value);
    void setAvailableVoices(const QStringList &value);
    void setEngineLabel(const QString &value);
    QString systemVoiceLabel() const;
    // False, logged once, when no neural engine can run here.
    bool neuralEngineAvailable();
    void finishLoad();
    std::shared_ptr<const NpyArray> readEmbedding(const QString &voice);
    QFuture<void> downloadFile(const QUrl &source, const QString &destination, const QString &label);

    Settings &m_settings;
    AudioOutput &m_audioOutput;
    SystemSpeechSynthesizer &m_systemSynthesizer;
    NeuralVoiceEngine &m_neuralEngine;
    SelectionReader &m_selectionReader;
    Sources m_sources;
    QString m_modelsDirectory;

    bool m_isSpeaking = false;
    QString m_lastSummary;
    bool m_isModelLoaded = false;
    bool m_isModelDownloaded = false;
    bool m_isDownloading = false;
    double m_downloadProgress = 0;
    QString m_selectedVoice;
    QStringList m_availableVoices;
    QString m_engineLabel = QStringLiteral("Not loaded");

    std::shared_ptr<NeuralVoiceModel> m_ttsEngine;
    // the selected voice's embedding, under its entry name
    QString m_embeddingKey;
    std::shared_ptr<const NpyArray> m_embedding;
    std::optional<SystemSpeechSynthesizer::Voice> m_bestSystemVoice;
    // every speech gets the next number; a report of another one is stale
    quint64 m_speech = 0;
    quint64 m_systemUtterance = 0;
    bool m_unavailableLogged = false;
    bool m_readingSelection = false;
    QNetworkAccessManager m_network;
    // The selection reader outlives this service only sometimes.
    Futures::FollowedFutures m_followed;
    SerialExecutor m_synthesisQueue{QStringLiteral("com.brv.kokoro.synthesis")};
};

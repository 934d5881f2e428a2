#pragma once

#include "pipeline/AudioSamples.h"
#include "pipeline/RealtimeTranscriptionService.h"
#include "support/FutureWatch.h"
#include "support/LanguageOption.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>

#include <chrono>
#include <optional>

struct CloudHttpReply;
class MonotonicClock;
class QNetworkAccessManager;

// Collects one dictation's samples and, at the stop, uploads them as a WAV file
// to the cloud API's "transcribe" endpoint. Main thread only.
class CloudflareTranscriptionService : public QObject, public RealtimeTranscriptionService {
    Q_OBJECT

public:
    // 300 s at 16 kHz; older audio is dropped beyond it.
    static constexpr qsizetype maxSamples = 4'800'000;
    static const QString modelName;
    static const QString sendingNotice;

    struct ProxyUsage {
        double minutesUsed = 0;
        double minutesRemaining = 0;
    };
    struct ProxyResponse {
        bool success = false;
        std::optional<QString> text;
        std::optional<ProxyUsage> usage;
        // Throws CloudReplyFormatError.
        static ProxyResponse fromJson(const QByteArray &json);
    };

    // Without a network manager the service makes its own. The clock measures
    // the reply's deadline.
    explicit CloudflareTranscriptionService(MonotonicClock &clock, QNetworkAccessManager *network = nullptr,
                                            QObject *parent = nullptr);
    // On the system clock.
    explicit CloudflareTranscriptionService(QNetworkAccessManager *network = nullptr, QObject *parent = nullptr);

    QFuture<void> start(LanguageOption language) override;
    QFuture<void> appendAudioFrames(const AudioSamples &frames) override;
    QFuture<QString> stopAndFinalize() override;
    QString activeASRModelName() const override { return modelName; }

    // Duration of the last upload, sample count / 16000.
    double lastAudioDurationSeconds() const { return m_lastAudioDurationSeconds; }
    // Minutes of the last upload still to be recorded locally: none when the
    // server's reply already reported the month's usage including them, and
    // none when the upload failed.
    double minutesNotCountedByServer() const;

    // How long an upload of that much audio may take from request to reply:
    // sending and transcribing grow with its length.
    static std::chrono::milliseconds replyDeadline(double audioSeconds);

    static QByteArray makeMultipartBody(const QByteArray &wav, const QString &languageCode, const QByteArray &boundary);

private:
    QString textFromReply(const CloudHttpReply &reply, quint64 session);

    MonotonicClock &m_clock;
    QPointer<QNetworkAccessManager> m_network;
    AudioSamples m_audioFrames;
    LanguageOption m_language = LanguageOption::english;
    double m_lastAudioDurationSeconds = 0;
    double m_minutesNotCountedByServer = 0;
    // Tells a late reply apart from the dictation that started after it.
    quint64 m_session = 0;
    // Last, so that it goes first: every .then() on this object waits through it.
    Futures::FollowedFutures m_followed;
};

#include "pipeline/CloudApiSettings.h"
#include "pipeline/CloudTranscriptionError.h"
#include "pipeline/CloudflareTranscriptionService.h"
#include "platform/fake/FakePlatform.h"
#include "pipeline/CloudHttpClient.h"
#include "pipeline/CloudUsageTracker.h"
#include "pipeline/WavEncoder.h"
#include "support/FutureWait.h"
#include "support/LogCapture.h"
#include "support/LoopbackHttpServer.h"

#include <QtEndian>

#include <QtTest>

using Kind = CloudTranscriptionError::Kind;
Q_DECLARE_METATYPE(Kind)
Q_DECLARE_METATYPE(LoopbackHttpServer::Response)

class tst_CloudflareTranscriptionService : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void startNeedsAUsableToken_data();
    void startNeedsAUsableToken();
    void stopWithoutSamplesSendsNothing();
    void unusableBaseUrlFailsBeforeSending_data();
    void unusableBaseUrlFailsBeforeSending();
    void uploadsTheDictationAsMultipartWav();
    void repliesMapToErrors_data();
    void repliesMapToErrors();
    void failedUploadKeepsTheSamplesForARetry();
    void serverUsageReplacesLocalCounting();
    void keepsTheNewestFiveMinutes();
    void redirectsStayOnTheSameHost();
    void transportFailurePropagates();
    void lateReplyLeavesTheNextDictationAlone();

private:
    static LoopbackHttpServer::Response json(const QByteArray &body, int status = 200)
    {
        return LoopbackHttpServer::Response::withBody(body, status, "application/json");
    }
    void useServer(const LoopbackHttpServer &server)
    {
        m_settings->setValue(CloudApiSettings::baseUrlKey, server.url(QStringLiteral("/v1")).toString());
    }
    // Runs one dictation of the given samples through the service.
    QFuture<QString> dictate(CloudflareTranscriptionService &service, const AudioSamples &samples,
                             LanguageOption language = LanguageOption::english)
    {
        service.start(language);
        service.appendAudioFrames(samples);
        QFuture<QString> result = service.stopAndFinalize();
        [&] { QVERIFY(waitForFuture(result)); }();
        return result;
    }

    FakeSettings *m_settings = nullptr;
};

void tst_CloudflareTranscriptionService::initTestCase()
{
    m_settings = &FakePlatform::installNew().fakeSettings();
}

void tst_CloudflareTranscriptionService::init()
{
    m_settings->clear();
    m_settings->setValue(CloudApiSettings::tokenKey, QStringLiteral("secret-token"));
}

void tst_CloudflareTranscriptionService::startNeedsAUsableToken_data()
{
    QTest::addColumn<QVariant>("token");
    QTest::newRow("absent") << QVariant();
    QTest::newRow("empty") << QVariant(QString());
    QTest::newRow("two lines") << QVariant(QStringLiteral("secret\r\nHost: evil"));
}

void tst_CloudflareTranscriptionService::startNeedsAUsableToken()
{
    QFETCH(QVariant, token);
    m_settings->remove(CloudApiSettings::tokenKey);
    if (token.isValid())
        m_settings->setValue(CloudApiSettings::tokenKey, token);
    CloudflareTranscriptionService service;
    const auto error = failureOf<CloudTranscriptionError>(service.start(LanguageOption::english));
    QVERIFY(error);
    QCOMPARE(error->kind(), Kind::notAuthorized);
}

void tst_CloudflareTranscriptionService::stopWithoutSamplesSendsNothing()
{
    CloudflareTranscriptionService service;
    QStringList notices;
    service.setOnPartialText([&](const QString &text) { notices << text; });
    QVERIFY(failureOf<std::exception>(service.start(LanguageOption::german)) == std::nullopt);
    service.appendAudioFrames({});
    const QFuture<QString> result = service.stopAndFinalize();
    QVERIFY(result.isFinished());
    QCOMPARE(result.result(), QString());
    QVERIFY(notices.isEmpty());
    QCOMPARE(service.lastAudioDurationSeconds(), 0.0);
}

void tst_CloudflareTranscriptionService::unusableBaseUrlFailsBeforeSending_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<Kind>("kind");
    QTest::newRow("plain http to another host") << "http://api.example.com/v1" << Kind::insecureBaseURL;
    QTest::newRow("empty") << "" << Kind::invalidBaseURL;
    QTest::newRow("not a URL") << "::" << Kind::invalidBaseURL;
}

void tst_CloudflareTranscriptionService::unusableBaseUrlFailsBeforeSending()
{
    QFETCH(QString, base);
    QFETCH(Kind, kind);
    m_settings->setValue(CloudApiSettings::baseUrlKey, base);
    CloudflareTranscriptionService service;
    // Refused at the start already, so nobody dictates into a dead end...
    const auto refused = failureOf<CloudTranscriptionError>(service.start(LanguageOption::english));
    QVERIFY(refused);
    QCOMPARE(refused->kind(), kind);
    QVERIFY(!refused->description().isEmpty());

    // ...and again at the stop, without sending.
    service.appendAudioFrames(AudioSamples(8000, 0.1f));
    const QFuture<QString> result = service.stopAndFinalize();
    QVERIFY(result.isFinished());
    const auto error = failureOf<CloudTranscriptionError>(result);
    QVERIFY(error);
    QCOMPARE(error->kind(), kind);
    QCOMPARE(service.lastAudioDurationSeconds(), 0.5);
}

void tst_CloudflareTranscriptionService::uploadsTheDictationAsMultipartWav()
{
    LoopbackHttpServer server;
    useServer(server);
    server.setResponse(QStringLiteral("/v1/transcribe"), json(R"({"success": true, "text": "  hello \n"})"));
    CloudflareTranscriptionService service;
    QStringList notices;
    service.setOnPartialText([&](const QString &text) { notices << text; });
    LogCapture log;

    AudioSamples samples;
    for (int i = 0; i < 16000; ++i)
        samples.append(float(i % 200 - 100) / 100.0f);
    const QFuture<QString> result = dictate(service, samples, LanguageOption::german);
    QCOMPARE(result.result(), QStringLiteral("hello"));
    QCOMPARE(notices, QStringList{QStringLiteral("Sending to cloud for transcription...")});
    QCOMPARE(service.lastAudioDurationSeconds(), 1.0);

    QCOMPARE(server.requestCount(), 1);
    const LoopbackHttpServer::Request request = server.requests().first();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.target, QByteArray("/v1/transcribe"));
    QCOMPARE(request.header("Authorization"), QByteArray("Bearer secret-token"));
    const QByteArray contentType = request.header("Content-Type");
    const QByteArray prefix = "multipart/form-data; boundary=";
    QVERIFY2(contentType.startsWith(prefix), contentType.constData());
    const QByteArray boundary = contentType.mid(prefix.size());
    QVERIFY2(QRegularExpression(QStringLiteral("^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$"))
                 .match(QString::fromLatin1(boundary))
                 .hasMatch(),
             boundary.constData());

    const QByteArray wav = WavEncoder::makeWAVData(samples, 16000);
    QCOMPARE(wav.size(), 32044);
    const QByteArray expected = "--" + boundary + "\r\n"
                                + "Content-Disposition: form-data; name=\"audio\"; filename=\"recording.wav\"\r\n"
                                + "Content-Type: audio/wav\r\n\r\n" + wav + "\r\n"
                                + "--" + boundary + "\r\n"
                                + "Content-Disposition: form-data; name=\"language\"\r\n\r\n"
                                + "de\r\n"
                                + "--" + boundary + "--\r\n";
    QCOMPARE(request.body.size(), expected.size());
    QVERIFY(request.body == expected);
    QCOMPARE(request.header("Content-Length"), QByteArray::number(expected.size()));

    QVERIFY(log.contains(QStringLiteral("[CloudASR] Sending 1.0 seconds of audio (32044 bytes WAV) language=de")));
    QVERIFY(log.contains(QStringLiteral("[CloudASR] Success: 5 chars")));
    QCOMPARE(service.minutesNotCountedByServer(), 1.0 / 60.0);

    // The samples went with the upload: the next stop has nothing to send.
    const QFuture<QString> again = service.stopAndFinalize();
    QVERIFY(again.isFinished());
    QCOMPARE(again.result(), QString());
    QCOMPARE(server.requestCount(), 1);
}

void tst_CloudflareTranscriptionService::repliesMapToErrors_data()
{
    QTest::addColumn<LoopbackHttpServer::Response>("reply");
    QTest::addColumn<QVariant>("kind"); // none: not a CloudTranscriptionError
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("logged");

    const QString longBody(500, QLatin1Char('x'));
    QTest::newRow("401") << json("{}", 401) << QVariant::fromValue(Kind::notAuthorized)
                         << CloudTranscriptionError::notAuthorized().description() << "";
    QTest::newRow("429") << json("{}", 429) << QVariant::fromValue(Kind::rateLimited)
                         << "You've made too many requests. Please wait a moment and try again." << "";
    QTest::newRow("503") << json("{}", 503) << QVariant::fromValue(Kind::serviceUnavailable)
                         << "Cloud transcription is temporarily unavailable. Please try again later or switch to an "
                            "on-device model."
                         << "";
    QTest::newRow("500 boom") << LoopbackHttpServer::Response::withBody("boom", 500, "text/plain")
                              << QVariant::fromValue(Kind::apiError) << "Transcription error (500): boom"
                              << "[CloudASR] Error 500: boom";
    QTest::newRow("long error body is cut")
        << LoopbackHttpServer::Response::withBody(longBody.toUtf8(), 502, "text/html")
        << QVariant::fromValue(Kind::apiError) << "Transcription error (502): " + longBody.left(200)
        << "[CloudASR] Error 502: " + longBody.left(200);
    QTest::newRow("error body not UTF-8") << LoopbackHttpServer::Response::withBody("\xff\xfe\x80", 400, "text/plain")
                                          << QVariant::fromValue(Kind::apiError)
                                          << "Transcription error (400): Unknown error"
                                          << "[CloudASR] Error 400: Unknown error";
    QTest::newRow("success false") << json(R"({"success": false, "text": "ignored"})")
                                   << QVariant::fromValue(Kind::apiError)
                                   << "Transcription error (200): Server returned success=false" << "";
    QTest::newRow("reply over 1 MiB") << json("{\"success\": true, \"text\": \"" + QByteArray(2 << 20, 'a') + "\"}")
                                      << QVariant::fromValue(Kind::invalidResponse)
                                      << "Invalid response from transcription service." << "";
    QTest::newRow("malformed JSON") << json(R"({"success": tru)") << QVariant() << "" << "";
    QTest::newRow("success missing") << json(R"({"text": "hi"})") << QVariant() << "" << "";
    QTest::newRow("usage incomplete") << json(R"({"success": true, "usage": {"minutes_used": 1}})") << QVariant()
                                      << "" << "";
}

void tst_CloudflareTranscriptionService::repliesMapToErrors()
{
    QFETCH(LoopbackHttpServer::Response, reply);
    QFETCH(QVariant, kind);
    QFETCH(QString, description);
    QFETCH(QString, logged);
    LoopbackHttpServer server;
    useServer(server);
    server.setResponse(QStringLiteral("/v1/transcribe"), reply);
    CloudflareTranscriptionService service;
    LogCapture log;

    const QFuture<QString> result = dictate(service, AudioSamples(1600, 0.1f));
    QCOMPARE(server.requestCount(), 1);
    if (kind.isValid()) {
        const auto error = failureOf<CloudTranscriptionError>(result);
        QVERIFY(error);
        QCOMPARE(error->kind(), kind.value<Kind>());
        QCOMPARE(error->description(), description);
    } else {
        QVERIFY(failureOf<CloudReplyFormatError>(result));
    }
    const QStringList errorLines = log.linesStartingWith(QStringLiteral("[CloudASR] Error"));
    QCOMPARE(errorLines, logged.isEmpty() ? QStringList() : QStringList{logged});
    QVERIFY(!log.contains(QStringLiteral("[CloudASR] Success")));
}

void tst_CloudflareTranscriptionService::failedUploadKeepsTheSamplesForARetry()
{
    LoopbackHttpServer server;
    useServer(server);
    server.enqueue(QStringLiteral("/v1/transcribe"), json("{}", 503));
    server.setResponse(QStringLiteral("/v1/transcribe"), json(R"({"success": true, "text": "again"})"));
    CloudflareTranscriptionService service;

    QVERIFY(failureOf<CloudTranscriptionError>(dictate(service, AudioSamples(3200, 0.2f))));
    const QFuture<QString> retry = service.stopAndFinalize();
    QVERIFY(waitForFuture(retry));
    QCOMPARE(retry.result(), QStringLiteral("again"));
    QCOMPARE(server.requestCount(), 2);
    QCOMPARE(server.requests().at(1).body.size(), server.requests().at(0).body.size());
    QCOMPARE(service.lastAudioDurationSeconds(), 0.2);
}

void tst_CloudflareTranscriptionService::serverUsageReplacesLocalCounting()
{
    LoopbackHttpServer server;
    useServer(server);
    server.setResponse(QStringLiteral("/v1/transcribe"),
                       json(R"({"success": true, "text": "hi", "usage": {"minutes_used": 12.5, "minutes_remaining": 87.5}})"));
    CloudUsageTracker &tracker = CloudUsageTracker::shared();
    tracker.addMinutes(3);
    CloudflareTranscriptionService service;

    QCOMPARE(dictate(service, AudioSamples(32000, 0.1f)).result(), QStringLiteral("hi"));
    QCOMPARE(tracker.minutesUsedThisMonth(), 12.5);
    QCOMPARE(tracker.monthlyQuotaMinutes(), 100.0);
    QCOMPARE(m_settings->doubleValue(CloudUsageTracker::usedKey), 12.5);
    QCOMPARE(m_settings->doubleValue(CloudUsageTracker::quotaKey), 100.0);
    // The server's figure already holds this dictation's two seconds.
    QCOMPARE(service.lastAudioDurationSeconds(), 2.0);
    QCOMPARE(service.minutesNotCountedByServer(), 0.0);

    // A new dictation starts uncounted again.
    service.start(LanguageOption::english);
    QCOMPARE(service.minutesNotCountedByServer(), 0.0);
    QCOMPARE(service.lastAudioDurationSeconds(), 0.0);
}

void tst_CloudflareTranscriptionService::keepsTheNewestFiveMinutes()
{
    LoopbackHttpServer server;
    useServer(server);
    server.setResponse(QStringLiteral("/v1/transcribe"), json(R"({"success": true, "text": "long"})"));
    CloudflareTranscriptionService service;
    service.start(LanguageOption::english);
    // 200,000 loud samples first, then 4,800,000 quiet ones, in capture-sized chunks.
    const AudioSamples loud(1000, -1.0f), quiet(1000, 0.5f);
    for (int i = 0; i < 200; ++i)
        service.appendAudioFrames(loud);
    for (int i = 0; i < 4800; ++i)
        service.appendAudioFrames(quiet);
    const QFuture<QString> result = service.stopAndFinalize();
    QVERIFY(waitForFuture(result, 30000));
    QCOMPARE(result.result(), QStringLiteral("long"));
    QCOMPARE(service.lastAudioDurationSeconds(), 300.0);

    const QByteArray body = server.requests().first().body;
    const qsizetype wavAt = body.indexOf("RIFF");
    QVERIFY(wavAt > 0);
    QCOMPARE(qFromLittleEndian<quint32>(body.constData() + wavAt + 40), 9'600'000u);
    const char *pcm = body.constData() + wavAt + WavEncoder::headerBytes;
    QCOMPARE(qFromLittleEndian<qint16>(pcm), qint16(16383));
    QCOMPARE(qFromLittleEndian<qint16>(pcm + 9'600'000 - 2), qint16(16383));
}

void tst_CloudflareTranscriptionService::redirectsStayOnTheSameHost()
{
    LoopbackHttpServer api;
    LoopbackHttpServer elsewhere;
    useServer(api);
    elsewhere.setResponse(QStringLiteral("/v1/transcribe"), json(R"({"success": true, "text": "stolen"})"));
    api.setResponse(QStringLiteral("/v1/transcribe"),
                    LoopbackHttpServer::Response::redirect(elsewhere.url(QStringLiteral("/v1/transcribe")).toEncoded(),
                                                           307));
    api.setResponse(QStringLiteral("/v2/transcribe"), json(R"({"success": true, "text": "moved"})"));
    CloudflareTranscriptionService service;

    // Another port is another origin: the token must not follow.
    const auto refused = failureOf<CloudTranscriptionError>(dictate(service, AudioSamples(1600, 0.1f)));
    QVERIFY(refused);
    QCOMPARE(refused->kind(), Kind::apiError);
    QCOMPARE(refused->statusCode(), 307);
    QCOMPARE(elsewhere.requestCount(), 0);

    api.setResponse(QStringLiteral("/v1/transcribe"), LoopbackHttpServer::Response::redirect("/v2/transcribe", 307));
    api.clearRequests();
    const QFuture<QString> moved = dictate(service, AudioSamples(1600, 0.1f));
    QCOMPARE(moved.result(), QStringLiteral("moved"));
    QCOMPARE(api.requestCount(), 2);
    const LoopbackHttpServer::Request followed = api.requests().at(1);
    QCOMPARE(followed.path(), QStringLiteral("/v2/transcribe"));
    QCOMPARE(followed.header("Authorization"), QByteArray("Bearer secret-token"));
    QVERIFY(followed.body == api.requests().at(0).body);
}

void tst_CloudflareTranscriptionService::transportFailurePropagates()
{
    m_settings->setValue(CloudApiSettings::baseUrlKey, LoopbackHttpServer::refusingUrl(QStringLiteral("/v1")).toString());
    CloudflareTranscriptionService service;
    const auto error = failureOf<CloudNetworkError>(dictate(service, AudioSamples(1600, 0.1f)));
    QVERIFY(error);
    QVERIFY(!error->description().isEmpty());
}

void tst_CloudflareTranscriptionService::lateReplyLeavesTheNextDictationAlone()
{
    LoopbackHttpServer server;
    useServer(server);
    auto slow = json(R"({"success": true, "text": "first"})");
    slow.headerDelayMs = 200;
    server.enqueue(QStringLiteral("/v1/transcribe"), slow);
    server.setResponse(QStringLiteral("/v1/transcribe"), json(R"({"success": true, "text": "second"})"));
    CloudflareTranscriptionService service;

    service.start(LanguageOption::english);
    service.appendAudioFrames(AudioSamples(1600, 0.1f));
    const QFuture<QString> first = service.stopAndFinalize();
    service.start(LanguageOption::english);
    service.appendAudioFrames(AudioSamples(3200, 0.1f));
    QVERIFY(waitForFuture(first));
    QCOMPARE(first.result(), QStringLiteral("first"));

    const QFuture<QString> second = service.stopAndFinalize();
    QVERIFY(waitForFuture(second));
    QCOMPARE(second.result(), QStringLiteral("second"));
    QCOMPARE(server.requests().at(1).body.size() - server.requests().at(0).body.size(), 3200);
}

QTEST_GUILESS_MAIN(tst_CloudflareTranscriptionService)
#include "tst_CloudflareTranscriptionService.moc"

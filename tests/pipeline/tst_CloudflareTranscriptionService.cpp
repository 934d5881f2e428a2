#include "pipeline/CloudApiSettings.h"
#include "pipeline/CloudTranscriptionError.h"
#include "pipeline/CloudflareTranscriptionService.h"
#include "platform/fake/FakePlatform.h"
#include "pipeline/CloudHttpClient.h"
#include "pipeline/CloudUsageTracker.h"
#include "pipeline/WavEncoder.h"
#include "support/FakeMonotonicClock.h"
#include "support/FutureWait.h"
#include "support/LogCapture.h"
#include "support/LoopbackHttpServer.h"
#include "support/TestError.h"

#include <QtEndian>

#include <QtTest>

using Kind = CloudTranscriptionError::Kind;
Q_DECLARE_METATYPE(Kind)
using Response = LoopbackHttpServer::Response;

class tst_CloudflareTranscriptionService : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void unusableSettingsFailBeforeSending_data();
    void unusableSettingsFailBeforeSending();
    void uploadsTheDictationAsMultipartWav();
    void failuresMapToErrorsAndKeepTheSamples_data();
    void failuresMapToErrorsAndKeepTheSamples();
    void serverUsageReplacesLocalCounting();
    void keepsTheNewestFiveMinutes();
    void redirectsStayOnTheSameHost();
    void transportFailurePropagates();
    void replyDeadlineGrowsWithTheAudio();
    void serverTextCannotForgeLogLines();
    void lateReplyLeavesTheNextDictationAlone();

private:
    static Response json(const QByteArray &body, int status = 200)
    {
        return Response::withBody(body, status, "application/json");
    }
    void answer(const Response &reply) { m_server->setResponse(QStringLiteral("/v1/transcribe"), reply); }
    // Runs one dictation of the given samples through the service; a
    // dictation that does not finish ends in a TestError.
    QFuture<QString> dictate(CloudflareTranscriptionService &service, const AudioSamples &samples,
                             LanguageOption language = LanguageOption::english)
    {
        service.start(language);
        service.appendAudioFrames(samples);
        QFuture<QString> result = service.stopAndFinalize();
        if (waitForFuture(result))
            return result;
        return QtFuture::makeExceptionalFuture<QString>(TestError(QStringLiteral("the dictation did not finish")));
    }

    FakeSettings *m_settings = nullptr;
    std::unique_ptr<LoopbackHttpServer> m_server;
};

void tst_CloudflareTranscriptionService::initTestCase()
{
    m_settings = &FakePlatform::installNew().fakeSettings();
}

void tst_CloudflareTranscriptionService::init()
{
    m_server = std::make_unique<LoopbackHttpServer>();
    m_settings->clear();
    m_settings->setValue(CloudApiSettings::tokenKey, QStringLiteral("secret-token"));
    m_settings->setValue(CloudApiSettings::baseUrlKey, m_server->url(QStringLiteral("/v1")).toString());
}

void tst_CloudflareTranscriptionService::unusableSettingsFailBeforeSending_data()
{
    QTest::addColumn<QVariant>("token");
    QTest::addColumn<QVariant>("base");
    QTest::addColumn<Kind>("kind");
    const QVariant token(QStringLiteral("secret-token"));
    QTest::newRow("no token") << QVariant() << QVariant() << Kind::notAuthorized;
    QTest::newRow("empty token") << QVariant(QString()) << QVariant() << Kind::notAuthorized;
    QTest::newRow("token of two lines") << QVariant(QStringLiteral("secret\r\nHost: evil")) << QVariant()
                                        << Kind::notAuthorized;
    QTest::newRow("plain http to another host") << token << QVariant("http://api.example.com/v1")
                                                << Kind::insecureBaseURL;
    QTest::newRow("empty base") << token << QVariant("") << Kind::invalidBaseURL;
}

void tst_CloudflareTranscriptionService::unusableSettingsFailBeforeSending()
{
    QFETCH(QVariant, token);
    QFETCH(QVariant, base);
    QFETCH(Kind, kind);
    m_settings->remove(CloudApiSettings::tokenKey);
    if (token.isValid())
        m_settings->setValue(CloudApiSettings::tokenKey, token);
    if (base.isValid())
        m_settings->setValue(CloudApiSettings::baseUrlKey, base);
    CloudflareTranscriptionService service;
    // refused at the start already, so nobody dictates into a dead end...
    const auto refused = failureOf<CloudTranscriptionError>(service.start(LanguageOption::english));
    QVERIFY(refused);
    QCOMPARE(refused->kind(), kind);

    // ...and again at the stop, without sending
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
    answer(json(R"({"success": true, "text": "  hello \n"})"));
    CloudflareTranscriptionService service;
    QStringList notices;
    service.setOnPartialText([&](const QString &text) { notices << text; });

    AudioSamples samples;
    for (int i = 0; i < 16000; ++i)
        samples.append(float(i % 200 - 100) / 100.0f);
    const QFuture<QString> result = dictate(service, samples, LanguageOption::german);
    QCOMPARE(result.result(), QStringLiteral("hello"));
    QCOMPARE(notices, QStringList{QStringLiteral("Sending to cloud for transcription...")});
    QCOMPARE(service.lastAudioDurationSeconds(), 1.0);

    QCOMPARE(m_server->requestCount(), 1);
    const LoopbackHttpServer::Request request = m_server->requests().first();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.target, QByteArray("/v1/transcribe"));
    QCOMPARE(request.header("Authorization"), QByteArray("Bearer secret-token"));
    const auto contentType = QRegularExpression(
        QStringLiteral("^multipart/form-data; boundary=([0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12})$"))
        .match(QString::fromLatin1(request.header("Content-Type")));
    QVERIFY2(contentType.hasMatch(), request.header("Content-Type").constData());
    const QByteArray boundary = contentType.captured(1).toLatin1();
    const QByteArray expected = "--" + boundary + "\r\n"
                                + "Content-Disposition: form-data; name=\"audio\"; filename=\"recording.wav\"\r\n"
                                + "Content-Type: audio/wav\r\n\r\n" + WavEncoder::makeWAVData(samples, 16000) + "\r\n"
                                + "--" + boundary + "\r\n"
                                + "Content-Disposition: form-data; name=\"language\"\r\n\r\n"
                                + "de\r\n"
                                + "--" + boundary + "--\r\n";
    QVERIFY(request.body == expected);
    QCOMPARE(request.header("Content-Length"), QByteArray::number(expected.size()));
    QCOMPARE(service.minutesNotCountedByServer(), 1.0 / 60.0);

    // the samples went with the upload: the next stop has nothing to send
    const QFuture<QString> again = service.stopAndFinalize();
    QVERIFY(again.isFinished());
    QCOMPARE(again.result(), QString());
    QCOMPARE(m_server->requestCount(), 1);
}

void tst_CloudflareTranscriptionService::failuresMapToErrorsAndKeepTheSamples_data()
{
    QTest::addColumn<Response>("reply");
    QTest::addColumn<QVariant>("kind"); // none: not a CloudTranscriptionError
    QTest::addColumn<QString>("description"); // empty: the kind's fixed text

    const QString longBody(500, QLatin1Char('x'));
    const auto api = QVariant::fromValue(Kind::apiError);
    QTest::newRow("401") << json("{}", 401) << QVariant::fromValue(Kind::notAuthorized) << "";
    QTest::newRow("429") << json("{}", 429) << QVariant::fromValue(Kind::rateLimited) << "";
    QTest::newRow("503") << json("{}", 503) << QVariant::fromValue(Kind::serviceUnavailable) << "";
    QTest::newRow("500 boom") << Response::withBody("boom", 500, "text/plain") << api
                              << "Transcription error (500): boom";
    QTest::newRow("long error body is cut") << Response::withBody(longBody.toUtf8(), 502, "text/html") << api
                                            << "Transcription error (502): " + longBody.left(200);
    QTest::newRow("error body not UTF-8") << Response::withBody("\xff\xfe\x80", 400, "text/plain") << api
                                          << "Transcription error (400): Unknown error";
    QTest::newRow("success false") << json(R"({"success": false, "text": "ignored"})") << api
                                   << "Transcription error (200): Server returned success=false";
    const Response overOneMiB = json("{\"success\": true, \"text\": \"" + QByteArray(2 << 20, 'a') + "\"}");
    QTest::newRow("reply over 1 MiB") << overOneMiB << QVariant::fromValue(Kind::invalidResponse) << "";
    // Without a Content-Length only the bytes received tell the size: the
    // reply is cut there, not read to an end that may never come.
    Response unsized = overOneMiB;
    unsized.stallAfterBytes = 3 << 19;
    unsized.chunked = true;
    QTest::newRow("reply over 1 MiB, chunked") << unsized << QVariant::fromValue(Kind::invalidResponse) << "";
    unsized.chunked = false;
    unsized.closeDelimited = true;
    QTest::newRow("reply over 1 MiB, ended by closing") << unsized << QVariant::fromValue(Kind::invalidResponse) << "";
    QTest::newRow("malformed JSON") << json(R"({"success": tru)") << QVariant() << "";
    QTest::newRow("success missing") << json(R"({"text": "hi"})") << QVariant() << "";
    QTest::newRow("usage incomplete") << json(R"({"success": true, "usage": {"minutes_used": 1}})") << QVariant()
                                      << "";
}

void tst_CloudflareTranscriptionService::failuresMapToErrorsAndKeepTheSamples()
{
    QFETCH(Response, reply);
    QFETCH(QVariant, kind);
    QFETCH(QString, description);
    answer(reply);
    CloudflareTranscriptionService service;

    const QFuture<QString> result = dictate(service, AudioSamples(1600, 0.1f));
    QCOMPARE(m_server->requestCount(), 1);
    if (kind.isValid()) {
        const auto error = failureOf<CloudTranscriptionError>(result);
        QVERIFY(error);
        QCOMPARE(error->kind(), kind.value<Kind>());
        if (!description.isEmpty())
            QCOMPARE(error->description(), description);
    } else {
        QVERIFY(failureOf<CloudReplyFormatError>(result));
    }

    // the samples stay for another try
    answer(json(R"({"success": true, "text": "again"})"));
    const QFuture<QString> retry = service.stopAndFinalize();
    QVERIFY(waitForFuture(retry));
    QCOMPARE(retry.result(), QStringLiteral("again"));
    QCOMPARE(m_server->requests().at(1).body.size(), m_server->requests().at(0).body.size());
    QCOMPARE(service.lastAudioDurationSeconds(), 0.1);
}

void tst_CloudflareTranscriptionService::serverUsageReplacesLocalCounting()
{
    answer(json(R"({"success": true, "text": "hi", "usage": {"minutes_used": 12.5, "minutes_remaining": 87.5}})"));
    CloudUsageTracker &tracker = CloudUsageTracker::shared();
    tracker.addMinutes(3);
    CloudflareTranscriptionService service;

    QCOMPARE(dictate(service, AudioSamples(32000, 0.1f)).result(), QStringLiteral("hi"));
    QCOMPARE(tracker.minutesUsedThisMonth(), 12.5);
    QCOMPARE(tracker.monthlyQuotaMinutes(), 100.0);
    // the server's figure already holds this dictation's two seconds
    QCOMPARE(service.lastAudioDurationSeconds(), 2.0);
    QCOMPARE(service.minutesNotCountedByServer(), 0.0);

    service.start(LanguageOption::english);
    QCOMPARE(service.lastAudioDurationSeconds(), 0.0);
}

void tst_CloudflareTranscriptionService::keepsTheNewestFiveMinutes()
{
    answer(json(R"({"success": true, "text": "long"})"));
    CloudflareTranscriptionService service;
    service.start(LanguageOption::english);
    // 200,000 loud samples, then 4,800,000 quiet ones: only the quiet five minutes go
    const AudioSamples loud(1000, -1.0f), quiet(1000, 0.5f);
    for (int i = 0; i < 200; ++i)
        service.appendAudioFrames(loud);
    for (int i = 0; i < 4800; ++i)
        service.appendAudioFrames(quiet);
    const QFuture<QString> result = service.stopAndFinalize();
    QVERIFY(waitForFuture(result, 30000));
    QCOMPARE(result.result(), QStringLiteral("long"));
    QCOMPARE(service.lastAudioDurationSeconds(), 300.0);

    const QByteArray body = m_server->requests().first().body;
    const qsizetype wavAt = body.indexOf("RIFF");
    QVERIFY(wavAt > 0);
    QCOMPARE(qFromLittleEndian<quint32>(body.constData() + wavAt + 40), 9'600'000u);
    const char *pcm = body.constData() + wavAt + WavEncoder::headerBytes;
    QCOMPARE(qFromLittleEndian<qint16>(pcm), qint16(16383));
    QCOMPARE(qFromLittleEndian<qint16>(pcm + 9'600'000 - 2), qint16(16383));
}

void tst_CloudflareTranscriptionService::redirectsStayOnTheSameHost()
{
    LoopbackHttpServer elsewhere;
    elsewhere.setResponse(QStringLiteral("/v1/transcribe"), json(R"({"success": true, "text": "stolen"})"));
    answer(Response::redirect(elsewhere.url(QStringLiteral("/v1/transcribe")).toEncoded(), 307));
    m_server->setResponse(QStringLiteral("/v2/transcribe"), json(R"({"success": true, "text": "moved"})"));
    CloudflareTranscriptionService service;

    // another port is another origin: the token must not follow
    const auto refused = failureOf<CloudTranscriptionError>(dictate(service, AudioSamples(1600, 0.1f)));
    QVERIFY(refused);
    QCOMPARE(refused->kind(), Kind::apiError);
    QCOMPARE(refused->statusCode(), 307);
    QCOMPARE(elsewhere.requestCount(), 0);

    answer(Response::redirect("/v2/transcribe", 307));
    m_server->clearRequests();
    QCOMPARE(dictate(service, AudioSamples(1600, 0.1f)).result(), QStringLiteral("moved"));
    QCOMPARE(m_server->requestCount(), 2);
    const LoopbackHttpServer::Request followed = m_server->requests().at(1);
    QCOMPARE(followed.path(), QStringLiteral("/v2/transcribe"));
    QCOMPARE(followed.header("Authorization"), QByteArray("Bearer secret-token"));
    QVERIFY(followed.body == m_server->requests().at(0).body);
}

void tst_CloudflareTranscriptionService::transportFailurePropagates()
{
    m_settings->setValue(CloudApiSettings::baseUrlKey, LoopbackHttpServer::refusingUrl(QStringLiteral("/v1")).toString());
    CloudflareTranscriptionService service;
    const auto error = failureOf<CloudNetworkError>(dictate(service, AudioSamples(1600, 0.1f)));
    QVERIFY(error && !error->description().isEmpty());
}

// A server that sends a byte now and then never meets the transfer timeout;
// the deadline leaves a long dictation the time its upload needs.
void tst_CloudflareTranscriptionService::replyDeadlineGrowsWithTheAudio()
{
    using namespace std::chrono_literals;
    Response dripping = json(R"({"success": true, "text": "too late"})");
    dripping.stallAfterBytes = 1;
    answer(dripping);
    FakeMonotonicClock clock;
    CloudflareTranscriptionService service(clock);

    service.start(LanguageOption::english);
    service.appendAudioFrames(AudioSamples(60 * 16000, 0.1f));
    const QFuture<QString> result = service.stopAndFinalize();
    QTRY_COMPARE(m_server->requestCount(), 1);
    QTest::qWait(50);
    clock.advance(89s);
    QTest::qWait(50);
    QVERIFY(!result.isFinished());
    clock.advance(1s);
    QVERIFY(waitForFuture(result));
    const auto error = failureOf<CloudNetworkError>(result);
    QVERIFY(error);
    QCOMPARE(error->description(), QStringLiteral("The cloud service did not answer within 90 seconds."));
    QCOMPARE(service.minutesNotCountedByServer(), 0.0);
}

void tst_CloudflareTranscriptionService::serverTextCannotForgeLogLines()
{
    answer(Response::withBody("boom\n[Coordinator] Stop complete: 3 words, 1.0s\x1b[2K", 500, "text/plain"));
    LogCapture log;
    CloudflareTranscriptionService service;
    QVERIFY(failureOf<CloudTranscriptionError>(dictate(service, AudioSamples(1600, 0.1f))));
    QCOMPARE(log.linesStartingWith(QStringLiteral("[CloudASR] Error")),
             QStringList{QStringLiteral("[CloudASR] Error 500: boom\\n"
                                        "[Coordinator] Stop complete: 3 words, 1.0s\\x1b[2K")});
    for (const QString &line : log.lines())
        QVERIFY2(!line.contains(QLatin1Char('\n')) && !line.contains(QChar(0x1b)), qPrintable(line));
}

void tst_CloudflareTranscriptionService::lateReplyLeavesTheNextDictationAlone()
{
    auto slow = json(R"({"success": true, "text": "first"})");
    slow.headerDelayMs = 200;
    m_server->enqueue(QStringLiteral("/v1/transcribe"), slow);
    answer(json(R"({"success": true, "text": "second"})"));
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
    // only the second dictation's samples went with the second upload
    QCOMPARE(m_server->requests().at(1).body.size() - m_server->requests().at(0).body.size(), 3200);
}

QTEST_GUILESS_MAIN(tst_CloudflareTranscriptionService)
#include "tst_CloudflareTranscriptionService.moc"

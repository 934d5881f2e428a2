#include "pipeline/CloudApiSettings.h"
#include "pipeline/CloudTranscriptionError.h"
#include "pipeline/CloudflareTranscriptionService.h"
#include "platform/fake/FakePlatform.h"
#include "support/FutureWait.h"

#include <QtTest>

using Kind = CloudTranscriptionError::Kind;
Q_DECLARE_METATYPE(Kind)

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

private:
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
    service.start(LanguageOption::english);
    service.appendAudioFrames(AudioSamples(8000, 0.1f));
    const QFuture<QString> result = service.stopAndFinalize();
    QVERIFY(result.isFinished());
    const auto error = failureOf<CloudTranscriptionError>(result);
    QVERIFY(error);
    QCOMPARE(error->kind(), kind);
    QVERIFY(!error->description().isEmpty());
    QCOMPARE(service.lastAudioDurationSeconds(), 0.5);
}

QTEST_GUILESS_MAIN(tst_CloudflareTranscriptionService)
#include "tst_CloudflareTranscriptionService.moc"

#include "pipeline/CloudApiSettings.h"
#include "pipeline/CloudRewriteService.h"
#include "platform/fake/FakePlatform.h"
#include "support/FutureWait.h"
#include "support/LogCapture.h"
#include "support/LoopbackHttpServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

Q_DECLARE_METATYPE(LoopbackHttpServer::Response)

class tst_CloudRewriteService : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void sendsTheTrimmedTextAsJson();
    void nothingIsSentWhenThereIsNothingToDo_data();
    void nothingIsSentWhenThereIsNothingToDo();
    void problemsGiveBackTheTrimmedInput_data();
    void problemsGiveBackTheTrimmedInput();
    void insecureBaseUrlIsRefused();
    void requestsRunOneAtATimeInCallOrder();

private:
    static LoopbackHttpServer::Response json(const QByteArray &body, int status = 200)
    {
        return LoopbackHttpServer::Response::withBody(body, status, "application/json");
    }
    QString rewritten(CloudRewriteService &service, const QString &text)
    {
        const QFuture<QString> result = service.rewrite(text, RewritePreset::concise, LanguageOption::french);
        [&] { QVERIFY(waitForFuture(result)); }();
        return result.isFinished() ? result.result() : QString();
    }

    FakeSettings *m_settings = nullptr;
    std::unique_ptr<LoopbackHttpServer> m_server;
};

void tst_CloudRewriteService::initTestCase()
{
    m_settings = &FakePlatform::installNew().fakeSettings();
}

void tst_CloudRewriteService::init()
{
    m_server = std::make_unique<LoopbackHttpServer>();
    m_settings->clear();
    m_settings->setValue(CloudApiSettings::tokenKey, QStringLiteral("secret-token"));
    m_settings->setValue(CloudApiSettings::baseUrlKey, m_server->url(QStringLiteral("/api/v1")).toString());
}

void tst_CloudRewriteService::sendsTheTrimmedTextAsJson()
{
    m_server->setResponse(QStringLiteral("/api/v1/rewrite"), json(R"({"success": true, "text": "Bonjour."})"));
    CloudRewriteService service;
    QCOMPARE(rewritten(service, QStringLiteral("  euh bonjour \n")), QStringLiteral("Bonjour."));

    QCOMPARE(m_server->requestCount(), 1);
    const LoopbackHttpServer::Request request = m_server->requests().first();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.header("Authorization"), QByteArray("Bearer secret-token"));
    QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
    const QJsonObject body = QJsonDocument::fromJson(request.body).object();
    QCOMPARE(body, (QJsonObject{{QStringLiteral("text"), QStringLiteral("euh bonjour")},
                                {QStringLiteral("preset"), QStringLiteral("concise")},
                                {QStringLiteral("language"), QStringLiteral("fr")}}));

    // Exactly at the limit still goes out.
    const QString atLimit(4000, QLatin1Char('a'));
    rewritten(service, atLimit);
    QCOMPARE(m_server->requestCount(), 2);
}

void tst_CloudRewriteService::nothingIsSentWhenThereIsNothingToDo_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QVariant>("token");
    QTest::addColumn<QString>("expected");
    const QString tooLong = QString(4001, QLatin1Char('b'));
    QTest::newRow("blank") << " \n\t " << QVariant(QStringLiteral("secret-token")) << "";
    QTest::newRow("no token") << " hi " << QVariant() << "hi";
    QTest::newRow("empty token") << " hi " << QVariant(QString()) << "hi";
    // Rewriting only the head would drop the tail.
    QTest::newRow("over 4000 characters") << " " + tooLong + " " << QVariant(QStringLiteral("secret-token"))
                                          << tooLong;
}

void tst_CloudRewriteService::nothingIsSentWhenThereIsNothingToDo()
{
    QFETCH(QString, text);
    QFETCH(QVariant, token);
    QFETCH(QString, expected);
    m_settings->remove(CloudApiSettings::tokenKey);
    if (token.isValid())
        m_settings->setValue(CloudApiSettings::tokenKey, token);
    CloudRewriteService service;
    LogCapture log;
    QCOMPARE(rewritten(service, text), expected);
    QCOMPARE(m_server->requestCount(), 0);
    QVERIFY(log.linesStartingWith(QStringLiteral("[CloudRewriteService]")).isEmpty());
}

void tst_CloudRewriteService::problemsGiveBackTheTrimmedInput_data()
{
    QTest::addColumn<LoopbackHttpServer::Response>("reply");
    QTest::addColumn<bool>("logged");
    QTest::newRow("success false") << json(R"({"success": false, "text": "Other"})") << false;
    QTest::newRow("empty rewrite") << json(R"({"success": true, "text": "  "})") << false;
    QTest::newRow("401") << json(R"({"success": true, "text": "Other"})", 401) << false;
    QTest::newRow("500") << LoopbackHttpServer::Response::withBody("boom", 500) << false;
    QTest::newRow("text missing") << json(R"({"success": true})") << true;
    QTest::newRow("success missing") << json(R"({"text": "Other"})") << true;
    QTest::newRow("not JSON") << json("<html>") << true;
    QTest::newRow("reply over 1 MiB") << json(QByteArray(1 << 21, ' ')) << true;
    auto dropped = json(R"({"success": true, "text": "Other"})");
    dropped.closeWithoutResponse = true;
    QTest::newRow("connection dropped") << dropped << true;
}

void tst_CloudRewriteService::problemsGiveBackTheTrimmedInput()
{
    QFETCH(LoopbackHttpServer::Response, reply);
    QFETCH(bool, logged);
    m_server->setResponse(QStringLiteral("/api/v1/rewrite"), reply);
    CloudRewriteService service;
    LogCapture log;
    QCOMPARE(rewritten(service, QStringLiteral(" keep me\n")), QStringLiteral("keep me"));
    // Qt sends a request once more when the connection closes unanswered.
    QVERIFY(m_server->requestCount() >= 1);
    const QStringList lines = log.linesStartingWith(QStringLiteral("[CloudRewriteService] Failed: "));
    QCOMPARE(lines.size(), logged ? 1 : 0);
}

void tst_CloudRewriteService::insecureBaseUrlIsRefused()
{
    m_settings->setValue(CloudApiSettings::baseUrlKey, QStringLiteral("http://rewrite.example.com/v1"));
    CloudRewriteService service;
    LogCapture log;
    QCOMPARE(rewritten(service, QStringLiteral("text")), QStringLiteral("text"));
    QVERIFY(log.contains(QStringLiteral("[CloudRewriteService] Failed: The cloud API address must use https")));
}

void tst_CloudRewriteService::requestsRunOneAtATimeInCallOrder()
{
    m_server->setHandler([](const LoopbackHttpServer::Request &request) {
        const QString text = QJsonDocument::fromJson(request.body).object().value(QStringLiteral("text")).toString();
        auto reply = json(QJsonDocument(QJsonObject{{QStringLiteral("success"), true},
                                                    {QStringLiteral("text"), text.toUpper()}})
                              .toJson());
        reply.headerDelayMs = text == QLatin1String("first") ? 100 : 0;
        return reply;
    });
    CloudRewriteService service;
    const QFuture<QString> first = service.rewrite(QStringLiteral("first"), RewritePreset::professional,
                                                   LanguageOption::english);
    const QFuture<QString> second = service.rewrite(QStringLiteral("second"), RewritePreset::professional,
                                                    LanguageOption::english);
    QTRY_COMPARE(m_server->requestCount(), 1);
    QVERIFY(!first.isFinished());
    QCOMPARE(m_server->requestCount(), 1);
    QVERIFY(waitForFuture(second));
    QVERIFY(first.isFinished());
    QCOMPARE(first.result(), QStringLiteral("FIRST"));
    QCOMPARE(second.result(), QStringLiteral("SECOND"));
    QCOMPARE(m_server->requests().at(1).body.contains("second"), true);
}

QTEST_GUILESS_MAIN(tst_CloudRewriteService)
#include "tst_CloudRewriteService.moc"

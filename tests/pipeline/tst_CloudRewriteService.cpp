#include "pipeline/CloudApiSettings.h"
#include "pipeline/CloudRewriteService.h"
#include "platform/fake/FakePlatform.h"
#include "support/FutureWait.h"
#include "support/LoopbackHttpServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

class tst_CloudRewriteService : public QObject {
    Q_OBJECT
private slots:
    void init();
    void sendsTheTrimmedTextAsJson();
    void failuresGiveBackTheTrimmedInput_data();
    void failuresGiveBackTheTrimmedInput();
    void requestsRunOneAtATimeInCallOrder();

private:
    static LoopbackHttpServer::Response json(const QByteArray &body, int status = 200)
    {
        return LoopbackHttpServer::Response::withBody(body, status, "application/json");
    }
    // None when the rewrite does not finish.
    std::optional<QString> rewritten(CloudRewriteService &service, const QString &text)
    {
        const QFuture<QString> result = service.rewrite(text, RewritePreset::concise, LanguageOption::french);
        return waitForFuture(result) ? std::optional(result.result()) : std::nullopt;
    }

    FakeSettings *m_settings = nullptr;
    std::unique_ptr<LoopbackHttpServer> m_server;
};

void tst_CloudRewriteService::init()
{
    m_server = std::make_unique<LoopbackHttpServer>();
    m_settings = &FakePlatform::installNew().fakeSettings();
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

    // exactly at the limit still goes out
    QVERIFY(rewritten(service, QString(4000, QLatin1Char('a'))));
    QCOMPARE(m_server->requestCount(), 2);
}

void tst_CloudRewriteService::failuresGiveBackTheTrimmedInput_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("setting"); // "token": remove it
    QTest::addColumn<LoopbackHttpServer::Response>("reply"); // status 0: nothing may be sent
    const QString keep = QStringLiteral(" keep me\n");
    const LoopbackHttpServer::Response none = json({}, 0);
    QTest::newRow("blank") << " \n\t " << "-" << none;
    QTest::newRow("no token") << keep << "token" << none;
    // rewriting only the head would drop the tail
    QTest::newRow("over 4000 characters") << " " + QString(4001, QLatin1Char('b')) << "-" << none;
    QTest::newRow("success false") << keep << "-" << json(R"({"success": false, "text": "Other"})");
    QTest::newRow("empty rewrite") << keep << "-" << json(R"({"success": true, "text": "  "})");
    QTest::newRow("500") << keep << "-" << LoopbackHttpServer::Response::withBody("boom", 500);
    QTest::newRow("success missing") << keep << "-" << json(R"({"text": "Other"})");
    QTest::newRow("not JSON") << keep << "-" << json("<html>");
    auto dropped = json(R"({"success": true, "text": "Other"})");
    dropped.closeWithoutResponse = true;
    QTest::newRow("connection dropped") << keep << "-" << dropped;
}

void tst_CloudRewriteService::failuresGiveBackTheTrimmedInput()
{
    QFETCH(QString, text);
    QFETCH(QString, setting);
    QFETCH(LoopbackHttpServer::Response, reply);
    if (setting == QLatin1String("token"))
        m_settings->remove(CloudApiSettings::tokenKey);
    m_server->setResponse(QStringLiteral("/api/v1/rewrite"), reply);
    CloudRewriteService service;
    QCOMPARE(rewritten(service, text), text.trimmed());
    // Qt sends a request once more when the connection closes unanswered
    QCOMPARE(m_server->requestCount() > 0, reply.status != 0);
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
}

QTEST_GUILESS_MAIN(tst_CloudRewriteService)
#include "tst_CloudRewriteService.moc"

#include "LoopbackHttpServer.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QtTest>

// The server is what the download and cloud tests stand on: check that it
// sends exactly what a script says.
class tst_LoopbackHttpServer : public QObject {
    Q_OBJECT
private slots:
    void rangesAreHonouredOnRequest();
    void scriptsAreConsultedInOrderAndRecorded();
    void dropsAndCloseDelimitedBodiesEndEarly();
    void stallsEndWhenTheClientGoesAway();

private:
    struct Result {
        int status = 0;
        QNetworkReply::NetworkError error = QNetworkReply::NoError;
        QByteArray body;
        QByteArray contentRange;
    };
    Result fetch(QNetworkRequest request, const QByteArray &verb = "GET", const QByteArray &body = {});
    QNetworkAccessManager m_network;
};

tst_LoopbackHttpServer::Result tst_LoopbackHttpServer::fetch(QNetworkRequest request, const QByteArray &verb,
                                                             const QByteArray &body)
{
    QNetworkReply *reply = m_network.sendCustomRequest(request, verb, body);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    [&] { QVERIFY(finished.wait(10'000)); }();
    Result result;
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.error = reply->error();
    result.body = reply->readAll();
    result.contentRange = reply->rawHeader("Content-Range");
    reply->deleteLater();
    return result;
}

void tst_LoopbackHttpServer::rangesAreHonouredOnRequest()
{
    LoopbackHttpServer server;
    auto response = LoopbackHttpServer::Response::generated(300'000, 42);
    response.honourRange = true;
    server.setResponse(QStringLiteral("/file"), response);
    const QByteArray whole = LoopbackHttpServer::seededBytes(42, 0, 300'000);
    QCOMPARE(LoopbackHttpServer::seededBytes(42, 12'345, 10), whole.mid(12'345, 10));

    QNetworkRequest request(server.url(QStringLiteral("/file")));
    Result full = fetch(request);
    QCOMPARE(full.status, 200);
    QVERIFY(full.body == whole);

    request.setRawHeader("Range", "bytes=100000-");
    Result tail = fetch(request);
    QCOMPARE(tail.status, 206);
    QCOMPARE(tail.contentRange, QByteArray("bytes 100000-299999/300000"));
    QVERIFY(tail.body == whole.mid(100'000));

    request.setRawHeader("Range", "bytes=10-19");
    QVERIFY(fetch(request).body == whole.mid(10, 10));

    request.setRawHeader("Range", "bytes=300000-");
    Result past = fetch(request);
    QCOMPARE(past.status, 416);
    QCOMPARE(past.contentRange, QByteArray("bytes */300000"));
}

void tst_LoopbackHttpServer::scriptsAreConsultedInOrderAndRecorded()
{
    LoopbackHttpServer server;
    server.setHandler([](const LoopbackHttpServer::Request &request) {
        return LoopbackHttpServer::Response::withBody("handled " + request.target, 201, "text/plain");
    });
    server.setResponse(QStringLiteral("/a"), LoopbackHttpServer::Response::withBody("fixed"));
    server.enqueue(LoopbackHttpServer::Response::withBody("any path", 500));
    server.enqueue(QStringLiteral("/a"), LoopbackHttpServer::Response::withBody("queued for a"));
    server.enqueue(QStringLiteral("/old"), LoopbackHttpServer::Response::redirect(
                                              server.url(QStringLiteral("/a")).toEncoded(), 307));

    QCOMPARE(fetch(QNetworkRequest(server.url(QStringLiteral("/a?x=1")))).body, QByteArray("queued for a"));
    QCOMPARE(fetch(QNetworkRequest(server.url(QStringLiteral("/a")))).body, QByteArray("any path"));
    QCOMPARE(fetch(QNetworkRequest(server.url(QStringLiteral("/a")))).body, QByteArray("fixed"));
    QCOMPARE(fetch(QNetworkRequest(server.url(QStringLiteral("/b")))).body, QByteArray("handled /b"));
    // the client follows the redirect to the fixed answer
    QCOMPARE(fetch(QNetworkRequest(server.url(QStringLiteral("/old")))).body, QByteArray("fixed"));

    QNetworkRequest post(server.url(QStringLiteral("/upload")));
    post.setRawHeader("Authorization", "Bearer t0ken");
    post.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/json"));
    fetch(post, "POST", R"({"k":1})");

    const QList<LoopbackHttpServer::Request> requests = server.requests();
    QCOMPARE(requests.size(), 7);
    QCOMPARE(requests[0].target, QByteArray("/a?x=1"));
    QCOMPARE(requests[0].path(), QStringLiteral("/a"));
    QCOMPARE(requests[5].path(), QStringLiteral("/a"));
    const LoopbackHttpServer::Request &last = requests.last();
    QCOMPARE(last.method, QByteArray("POST"));
    QCOMPARE(last.header("authorization"), QByteArray("Bearer t0ken"));
    QCOMPARE(last.body, QByteArray(R"({"k":1})"));
    server.clearRequests();
    QCOMPARE(server.requestCount(), 0);

    QCOMPARE(fetch(QNetworkRequest(LoopbackHttpServer::refusingUrl())).error,
             QNetworkReply::ConnectionRefusedError);
}

void tst_LoopbackHttpServer::dropsAndCloseDelimitedBodiesEndEarly()
{
    LoopbackHttpServer server;
    auto dropped = LoopbackHttpServer::Response::generated(500'000, 1);
    dropped.dropAfterBytes = 200'000;
    server.enqueue(dropped);
    // Qt does not always report a body shorter than its Content-Length as an
    // error; clients must compare lengths themselves
    Result broken = fetch(QNetworkRequest(server.url()));
    QVERIFY(broken.body.size() <= 200'000);

    // without a length the same early end looks like a complete body
    dropped.closeDelimited = true;
    server.enqueue(dropped);
    Result clean = fetch(QNetworkRequest(server.url()));
    QCOMPARE(clean.error, QNetworkReply::NoError);
    QVERIFY(clean.body == LoopbackHttpServer::seededBytes(1, 0, 200'000));

    auto silent = LoopbackHttpServer::Response();
    silent.closeWithoutResponse = true;
    server.enqueue(silent);
    QVERIFY(fetch(QNetworkRequest(server.url())).error != QNetworkReply::NoError);
}

void tst_LoopbackHttpServer::stallsEndWhenTheClientGoesAway()
{
    LoopbackHttpServer server;
    auto stalled = LoopbackHttpServer::Response::generated(100'000, 3);
    stalled.stallAfterBytes = 1000;
    server.setResponse(QStringLiteral("/forever"), stalled);
    stalled.stallMs = 50;
    server.setResponse(QStringLiteral("/brief"), stalled);

    QCOMPARE(fetch(QNetworkRequest(server.url(QStringLiteral("/brief")))).body.size(), 100'000);

    QNetworkRequest request(server.url(QStringLiteral("/forever")));
    request.setTransferTimeout(300);
    QVERIFY(fetch(request).error != QNetworkReply::NoError);
    // destruction does not wait for a stall that never ends
    auto another = std::make_unique<LoopbackHttpServer>();
    stalled.stallMs = -1;
    another->setResponse(QStringLiteral("/"), stalled);
    QNetworkReply *reply = m_network.get(QNetworkRequest(another->url()));
    QTRY_COMPARE(another->requestCount(), 1);
    another.reset();
    reply->abort();
    reply->deleteLater();
}

QTEST_GUILESS_MAIN(tst_LoopbackHttpServer)
#include "tst_LoopbackHttpServer.moc"

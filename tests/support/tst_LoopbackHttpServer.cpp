#include "LoopbackHttpServer.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QtTest>

// The download and cloud tests stand on this server; a wrong range here would
// pass for a client fault there.
class tst_LoopbackHttpServer : public QObject {
    Q_OBJECT
private slots:
    void rangesAreHonouredOnRequest();

private:
    QNetworkReply *fetch(const QNetworkRequest &request)
    {
        QNetworkReply *reply = m_network.get(request);
        reply->setParent(this);
        QSignalSpy finished(reply, &QNetworkReply::finished);
        return reply->isFinished() || finished.wait(10'000) ? reply : nullptr;
    }
    QNetworkAccessManager m_network;
};

void tst_LoopbackHttpServer::rangesAreHonouredOnRequest()
{
    LoopbackHttpServer server;
    auto response = LoopbackHttpServer::Response::generated(300'000, 42);
    response.honourRange = true;
    server.setResponse(QStringLiteral("/file"), response);
    const QByteArray whole = LoopbackHttpServer::seededBytes(42, 0, 300'000);
    QCOMPARE(LoopbackHttpServer::seededBytes(42, 12'345, 10), whole.mid(12'345, 10));

    QNetworkRequest request(server.url(QStringLiteral("/file")));
    QNetworkReply *full = fetch(request);
    QVERIFY(full);
    QCOMPARE(full->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    QVERIFY(full->readAll() == whole);

    request.setRawHeader("Range", "bytes=100000-");
    QNetworkReply *tail = fetch(request);
    QVERIFY(tail);
    QCOMPARE(tail->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 206);
    QCOMPARE(tail->rawHeader("Content-Range"), QByteArray("bytes 100000-299999/300000"));
    QVERIFY(tail->readAll() == whole.mid(100'000));

    request.setRawHeader("Range", "bytes=300000-");
    QNetworkReply *past = fetch(request);
    QVERIFY(past);
    QCOMPARE(past->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 416);
    QCOMPARE(past->rawHeader("Content-Range"), QByteArray("bytes */300000"));
}

QTEST_GUILESS_MAIN(tst_LoopbackHttpServer)
#include "tst_LoopbackHttpServer.moc"

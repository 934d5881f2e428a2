#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMetaType>
#include <QMutex>
#include <QPair>
#include <QString>
#include <QUrl>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <thread>

// A scriptable HTTP/1.1 server on 127.0.0.1 for tests and benchmarks.
//
// It runs on its own threads (one accepting, one per connection), so both
// blocking test code and clients driven by the test's event loop (for example
// QNetworkAccessManager) can talk to it. Every connection carries one request
// and is closed after the response ("Connection: close").
//
// For each request the first of these that applies answers it:
//   1. a response queued for the request's path: enqueue(path, response), in order;
//   2. the response set for the path: setResponse(path, response), every time;
//   3. the handler: setHandler(fn), called for one request at a time;
//   4. otherwise "404 Not Found".
// Paths are compared without their query string. Every request is recorded
// (method, target, headers, body) before it is answered: requests().
// Request bodies must carry a Content-Length.
class LoopbackHttpServer {
public:
    using Headers = QList<QPair<QByteArray, QByteArray>>;

    struct Request {
        QByteArray method;
        QByteArray target; // path with its query, as sent
        Headers headers;
        QByteArray body;

        QString path() const; // target without the query
        // Case-insensitive; empty when absent.
        QByteArray header(const QByteArray &name) const;
    };

    struct Response {
        int status = 200;
        // Sent after the generated headers; a header named here replaces the
        // generated one of the same name (e.g. a deliberately wrong
        // "Content-Range" or "Content-Length").
        Headers headers;
        QByteArray body;
        // A body of this many bytes made on the fly by seededBytes(seed, ...)
        // instead of `body`, so large payloads cost no memory. -1: use `body`.
        qint64 generatedSize = -1;
        quint64 seed = 0;
        // The first bytes of a generated body, e.g. a file format's signature.
        QByteArray head;

        // Answer "Range: bytes=N-" on a 200 response with 206 and a
        // Content-Range when N is before the end.
        bool honourRange = false;
        // Send no Content-Length: the body ends when the connection closes.
        bool closeDelimited = false;
        // Send no Content-Length but "Transfer-Encoding: chunked", each piece
        // written as one chunk; the last chunk follows only a complete body.
        bool chunked = false;
        // Close the connection after this many body bytes (-1: send it all).
        qint64 dropAfterBytes = -1;
        // Stop sending after this many body bytes (0: right after the headers)
        // for stallMs milliseconds, or until the client goes away or the
        // server stops when stallMs is -1. -1: no stall.
        qint64 stallAfterBytes = -1;
        int stallMs = -1;
        // Send the body in pieces of this many bytes with paceMs between
        // them: a slow but steady server. -1: as fast as the client reads.
        qint64 paceBytes = -1;
        int paceMs = 0;
        // Wait this long before sending anything at all.
        int headerDelayMs = 0;
        // Close the connection without answering.
        bool closeWithoutResponse = false;

        static Response withBody(QByteArray body, int status = 200,
                                 QByteArray contentType = "application/octet-stream");
        static Response generated(qint64 size, quint64 seed, QByteArray head = {});
        // Bytes [offset, offset + length) of the whole body.
        QByteArray bytes(qint64 offset, qint64 length) const;
        static Response redirect(const QByteArray &location, int status = 302);
    };

    using Handler = std::function<Response(const Request &)>;

    // Starts listening on a free port of 127.0.0.1.
    LoopbackHttpServer();
    // Stops accepting, breaks every open connection (stalls included) and
    // waits for the server's threads.
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer &) = delete;
    LoopbackHttpServer &operator=(const LoopbackHttpServer &) = delete;

    QUrl url(const QString &path = QStringLiteral("/")) const;

    void setResponse(const QString &path, Response response);
    void enqueue(const QString &path, Response response);
    void setHandler(Handler handler);

    QList<Request> requests() const;
    int requestCount() const;
    void clearRequests();

    // Deterministic pseudo-random bytes: the same seed and offset always give
    // the same bytes, so a slice can be made without the whole payload.
    static QByteArray seededBytes(quint64 seed, qint64 offset, qint64 length);
    // An address on 127.0.0.1 where nothing listens, so connections are refused.
    static QUrl refusingUrl(const QString &path = QStringLiteral("/"));

private:
    void acceptLoop();
    void serve(int fd);
    Response responseFor(const Request &request);

    quint16 m_port = 0; // set while m_listenFd is made
    int m_listenFd = -1;
    std::atomic<bool> m_stopping{false};
    std::thread m_acceptor;

    QMutex m_handlerMutex;
    mutable QMutex m_mutex;
    QHash<QString, std::deque<Response>> m_queuedByPath;
    QHash<QString, Response> m_fixed;
    Handler m_handler;
    QList<Request> m_requests;
    QList<int> m_openFds;
    std::vector<std::thread> m_connections;
};

Q_DECLARE_METATYPE(LoopbackHttpServer::Response)

#include "LoopbackHttpServer.h"

#include <QtEndian>
#include <QtGlobal>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr qint64 kSendChunk = 64 * 1024;
constexpr int kPollSliceMs = 20;

quint64 splitmix64(quint64 x)
{
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

bool sendAll(int fd, const char *data, qint64 length)
{
    while (length > 0) {
        const ssize_t sent = ::send(fd, data, size_t(length), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += sent;
        length -= sent;
    }
    return true;
}

// Waits up to `ms` (forever when negative) unless the peer hangs up or the
// server stops; returns false in those two cases.
bool waitWhileConnected(int fd, int ms, const std::atomic<bool> &stopping)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!stopping) {
        if (ms >= 0 && std::chrono::steady_clock::now() >= deadline)
            return true;
        pollfd p{fd, POLLIN | POLLRDHUP, 0};
        const int ready = ::poll(&p, 1, kPollSliceMs);
        if (ready > 0) {
            if (p.revents & (POLLHUP | POLLERR | POLLRDHUP | POLLNVAL))
                return false;
            char probe;
            if (::recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT) == 0)
                return false;
        }
    }
    return false;
}

// Reads until `buffer` holds `wanted` bytes; false on a closed connection.
bool readAtLeast(int fd, QByteArray &buffer, qsizetype wanted, const std::atomic<bool> &stopping)
{
    char chunk[16384];
    while (buffer.size() < wanted) {
        if (stopping)
            return false;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kPollSliceMs) <= 0)
            continue;
        const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0)
            return false;
        buffer.append(chunk, got);
    }
    return true;
}

// The first byte of a "bytes=N-" range.
std::optional<qint64> rangeStart(const QByteArray &value)
{
    if (!value.startsWith("bytes=") || !value.endsWith('-'))
        return std::nullopt;
    bool ok = false;
    const qint64 first = value.mid(6, value.size() - 7).toLongLong(&ok);
    return ok && first >= 0 ? std::optional(first) : std::nullopt;
}

// Case-insensitive; end() when absent.
template <typename Headers>
auto findHeader(Headers &headers, const QByteArray &name)
{
    return std::find_if(headers.begin(), headers.end(),
                        [&](const auto &header) { return header.first.compare(name, Qt::CaseInsensitive) == 0; });
}

// A TCP socket bound to a free port of 127.0.0.1. A listening one may share
// its port with sockets in TIME_WAIT; one that only holds the port must not
// share it with anybody.
int boundSocket(quint16 &port, bool reuseAddress = true)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    if (reuseAddress)
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        qFatal("LoopbackHttpServer: cannot bind on 127.0.0.1: %s", strerror(errno));
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

} // namespace

QString LoopbackHttpServer::Request::path() const
{
    const qsizetype query = target.indexOf('?');
    return QString::fromUtf8(query < 0 ? target : target.left(query));
}

QByteArray LoopbackHttpServer::Request::header(const QByteArray &name) const
{
    const auto found = findHeader(headers, name);
    return found == headers.end() ? QByteArray() : found->second;
}

LoopbackHttpServer::Response LoopbackHttpServer::Response::withBody(QByteArray body, int status,
                                                                    QByteArray contentType)
{
    Response response;
    response.status = status;
    response.body = std::move(body);
    response.headers.append({"Content-Type", std::move(contentType)});
    return response;
}

LoopbackHttpServer::Response LoopbackHttpServer::Response::generated(qint64 size, quint64 seed, QByteArray head)
{
    Response response;
    response.generatedSize = size;
    response.seed = seed;
    response.head = std::move(head);
    return response;
}

QByteArray LoopbackHttpServer::Response::bytes(qint64 offset, qint64 length) const
{
    if (generatedSize < 0)
        return body.mid(offset, length);
    QByteArray slice = seededBytes(seed, offset, length);
    if (offset < head.size())
        slice.replace(0, qMin(head.size() - offset, length), head.mid(offset, length));
    return slice;
}

LoopbackHttpServer::Response LoopbackHttpServer::Response::redirect(const QByteArray &location, int status)
{
    Response response;
    response.status = status;
    response.headers.append({"Location", location});
    return response;
}

LoopbackHttpServer::LoopbackHttpServer()
    : m_listenFd(boundSocket(m_port))
{
    if (::listen(m_listenFd, 64) != 0)
        qFatal("LoopbackHttpServer: cannot listen on 127.0.0.1: %s", strerror(errno));
    m_acceptor = std::thread([this] { acceptLoop(); });
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    m_stopping = true;
    m_acceptor.join();
    ::close(m_listenFd);
    std::vector<std::thread> connections;
    {
        QMutexLocker lock(&m_mutex);
        // wakes connections blocked in send() to a client that stopped reading
        for (int fd : std::as_const(m_openFds))
            ::shutdown(fd, SHUT_RDWR);
        connections.swap(m_connections);
    }
    for (auto &thread : connections)
        thread.join();
}

QUrl LoopbackHttpServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path));
}

void LoopbackHttpServer::setResponse(const QString &path, Response response)
{
    QMutexLocker lock(&m_mutex);
    m_fixed.insert(path, std::move(response));
}

void LoopbackHttpServer::enqueue(const QString &path, Response response)
{
    QMutexLocker lock(&m_mutex);
    m_queuedByPath[path].push_back(std::move(response));
}

void LoopbackHttpServer::setHandler(Handler handler)
{
    QMutexLocker lock(&m_mutex);
    m_handler = std::move(handler);
}

QList<LoopbackHttpServer::Request> LoopbackHttpServer::requests() const
{
    QMutexLocker lock(&m_mutex);
    return m_requests;
}

int LoopbackHttpServer::requestCount() const
{
    QMutexLocker lock(&m_mutex);
    return int(m_requests.size());
}

void LoopbackHttpServer::clearRequests()
{
    QMutexLocker lock(&m_mutex);
    m_requests.clear();
}

QByteArray LoopbackHttpServer::seededBytes(quint64 seed, qint64 offset, qint64 length)
{
    // Byte i is byte (i % 8) of the little-endian word wordAt(i / 8).
    const auto wordAt = [seed](qint64 index) {
        return qToLittleEndian(splitmix64(seed * 0xD1B54A32D192ED03ULL + quint64(index)));
    };
    QByteArray bytes(length, Qt::Uninitialized);
    char *out = bytes.data();
    qint64 position = offset;
    const qint64 end = offset + length;
    while (position < end) {
        const quint64 word = wordAt(position / 8);
        const int first = int(position % 8);
        const int count = int(qMin<qint64>(8 - first, end - position));
        std::memcpy(out, reinterpret_cast<const char *>(&word) + first, size_t(count));
        out += count;
        position += count;
    }
    return bytes;
}

QUrl LoopbackHttpServer::refusingUrl(const QString &path)
{
    // Bound but never listening, and kept for the life of the process: a
    // port merely found free could be taken meanwhile by a server of another
    // test running in parallel.
    quint16 port = 0;
    boundSocket(port, false);
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path));
}

void LoopbackHttpServer::acceptLoop()
{
    while (!m_stopping) {
        pollfd p{m_listenFd, POLLIN, 0};
        if (::poll(&p, 1, kPollSliceMs) <= 0)
            continue;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        QMutexLocker lock(&m_mutex);
        m_openFds.append(fd);
        m_connections.emplace_back([this, fd] {
            serve(fd);
            {
                QMutexLocker lock(&m_mutex);
                m_openFds.removeOne(fd);
            }
            ::close(fd);
        });
    }
}

LoopbackHttpServer::Response LoopbackHttpServer::responseFor(const Request &request)
{
    Handler handler;
    {
        QMutexLocker lock(&m_mutex);
        m_requests.append(request);
        auto queued = m_queuedByPath.find(request.path());
        if (queued != m_queuedByPath.end() && !queued->empty()) {
            Response response = std::move(queued->front());
            queued->pop_front();
            return response;
        }
        if (m_fixed.contains(request.path()))
            return m_fixed.value(request.path());
        handler = m_handler;
    }
    if (handler) {
        // one at a time, so a handler may keep state without locks of its own
        QMutexLocker lock(&m_handlerMutex);
        return handler(request);
    }
    return Response::withBody("not found", 404, "text/plain");
}

void LoopbackHttpServer::serve(int fd)
{
    QByteArray buffer;
    while (!buffer.contains("\r\n\r\n")) {
        if (!readAtLeast(fd, buffer, buffer.size() + 1, m_stopping))
            return;
    }
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
    buffer.remove(0, headEnd + 4);

    Request request;
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    if (requestLine.size() < 2)
        return;
    request.method = requestLine[0];
    request.target = requestLine[1];
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    const qint64 length = request.header("Content-Length").toLongLong();
    if (length > 0) {
        if (!readAtLeast(fd, buffer, length, m_stopping))
            return;
        request.body = buffer.left(length);
    }

    const Response response = responseFor(request);
    if (response.headerDelayMs > 0 && !waitWhileConnected(fd, response.headerDelayMs, m_stopping))
        return;
    if (response.closeWithoutResponse) {
        ::shutdown(fd, SHUT_WR);
        return;
    }

    const qint64 fullSize = response.generatedSize >= 0 ? response.generatedSize : response.body.size();
    int status = response.status;
    qint64 first = 0;
    qint64 last = fullSize - 1;
    Headers headers;
    const auto start = response.honourRange && status == 200 ? rangeStart(request.header("Range")) : std::nullopt;
    if (start && *start < fullSize) {
        status = 206;
        first = *start;
        headers.append({"Content-Range", "bytes " + QByteArray::number(first) + '-' + QByteArray::number(last) + '/'
                                             + QByteArray::number(fullSize)});
    }
    const qint64 bodyLength = qMax<qint64>(0, last - first + 1);
    if (response.chunked)
        headers.append({QByteArray("Transfer-Encoding"), QByteArray("chunked")});
    else if (!response.closeDelimited)
        headers.append({QByteArray("Content-Length"), QByteArray::number(bodyLength)});
    headers.append({QByteArray("Connection"), QByteArray("close")});
    for (const auto &header : response.headers) {
        if (const auto found = findHeader(headers, header.first); found != headers.end())
            found->second = header.second;
        else
            headers.append(header);
    }

    // clients read the status code; the phrase is only for people reading a trace
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + (status >= 400 ? " Error\r\n" : " OK\r\n");
    for (const auto &header : headers)
        head += header.first + ": " + header.second + "\r\n";
    head += "\r\n";
    if (!sendAll(fd, head.constData(), head.size()))
        return;

    // body bytes [from, to) of the range being sent
    const auto sendBody = [&](qint64 from, qint64 to) {
        const qint64 piece = response.paceBytes > 0 ? response.paceBytes : kSendChunk;
        for (qint64 at = from; at < to && !m_stopping; at += piece) {
            const qint64 length = qMin(piece, to - at);
            QByteArray chunk = response.bytes(first + at, length);
            if (response.chunked)
                chunk = QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n";
            if (!sendAll(fd, chunk.constData(), chunk.size()))
                return false;
            if (response.paceBytes > 0 && at + length < to && !waitWhileConnected(fd, response.paceMs, m_stopping))
                return false;
        }
        return !m_stopping;
    };
    const qint64 toSend = response.dropAfterBytes >= 0 ? qMin(bodyLength, response.dropAfterBytes) : bodyLength;
    const bool stalls = response.stallAfterBytes >= 0 && response.stallAfterBytes <= toSend;
    const qint64 stallAt = stalls ? response.stallAfterBytes : toSend;
    if (!sendBody(0, stallAt) || (stalls && !waitWhileConnected(fd, response.stallMs, m_stopping))
        || !sendBody(stallAt, toSend))
        return;
    if (response.chunked && toSend == bodyLength && !sendAll(fd, "0\r\n\r\n", 5))
        return;
    // a clean end of stream, also for a drop: the client must notice the
    // missing bytes itself
    ::shutdown(fd, SHUT_WR);
}

#include "SingleInstance.h"

#include "support/Log.h"
#include "support/PrivateFiles.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr const char *kTag = "SingleInstance";
constexpr QByteArrayView kShowRequest = "show\n";
constexpr QByteArrayView kShown = "shown\n";

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// What the holder of the lock wrote: "pid\nsocket path\n". Until it has
// written all of it (it is starting), pid is 0.
struct Holder {
    qint64 pid = 0;
    QString socketPath;
};

Holder readHolder(const QString &lockPath)
{
    QFile file(lockPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray content = file.read(4096);
    const QList<QByteArray> lines = content.split('\n');
    if (lines.size() != 3 || !lines.last().isEmpty())
        return {};
    bool ok = false;
    const qint64 pid = lines[0].toLongLong(&ok);
    if (!ok || pid <= 0)
        return {};
    const QString socketPath = QFile::decodeName(lines[1]);
    return {pid, QDir::isAbsolutePath(socketPath) ? socketPath : QString()};
}

// The user at the other end of a connected local socket.
std::optional<uid_t> peerUser(qintptr descriptor)
{
    struct ucred credentials = {};
    socklen_t size = sizeof credentials;
    if (::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return std::nullopt;
    return credentials.uid;
}
} // namespace

SingleInstance::SingleInstance(const QString &profileFolder, const QString &socketFolder, QObject *parent)
    : QObject(parent)
    , m_lockPath(QDir(profileFolder).filePath(QStringLiteral("tavrune.lock")))
{
    // One socket per profile: profiles of one user may share a runtime folder.
    if (!socketFolder.isEmpty()) {
        const QByteArray profile = QCryptographicHash::hash(QFile::encodeName(QDir(profileFolder).absolutePath()),
                                                            QCryptographicHash::Sha256);
        m_socketPath = QDir(socketFolder)
                           .filePath(QStringLiteral("tavrune-%1.socket").arg(QString::fromLatin1(profile.toHex().left(16))));
    }
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { answer(socket); });
            answer(socket);
        }
    });
}

SingleInstance::~SingleInstance()
{
    m_server.close();
    // Emptied, not removed: removing it would let a launch that has it open
    // lock a file no later launch sees.
    if (m_lock >= 0) {
        [[maybe_unused]] const int emptied = ::ftruncate(m_lock, 0);
        ::close(m_lock);
    }
}

QString SingleInstance::socketFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty() || !QDir::isAbsolutePath(runtime)) {
        logLine(kTag, QStringLiteral("XDG_RUNTIME_DIR is %1; using a folder of Tavrune's own")
                          .arg(runtime.isEmpty() ? QStringLiteral("not set") : QStringLiteral("not absolute")));
    } else if (const QString problem = PrivateFiles::checkOwnFolder(runtime, false); !problem.isEmpty()) {
        logLine(kTag, QStringLiteral("Not using the runtime folder: %1").arg(problem));
    } else {
        return QDir::cleanPath(runtime);
    }
    for (const QString &own : {QDir::tempPath() + QStringLiteral("/tavrune-%1").arg(::geteuid()),
                               QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
                                   + QStringLiteral("/tavrune")}) {
        if (!QDir::isAbsolutePath(own))
            continue;
        const QString problem = PrivateFiles::checkOwnFolder(own, true);
        if (problem.isEmpty())
            return QDir::cleanPath(own);
        logLine(kTag, QStringLiteral("Not using a folder of Tavrune's own: %1").arg(problem));
    }
    return {};
}

bool SingleInstance::claim()
{
    m_lock = ::open(QFile::encodeName(m_lockPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_lock < 0 || ::flock(m_lock, LOCK_EX | LOCK_NB) != 0) {
        const bool held = m_lock >= 0 && errno == EWOULDBLOCK;
        // Better a second instance now and then than none at all.
        if (!held)
            logLine(kTag, QStringLiteral("Cannot lock %1: %2; not checking for another Tavrune").arg(m_lockPath, systemError()));
        if (m_lock >= 0)
            ::close(m_lock);
        m_lock = -1;
        return !held;
    }
    // what an earlier holder wrote is no one's now
    if (::ftruncate(m_lock, 0) != 0)
        logLine(kTag, QStringLiteral("Cannot write %1: %2").arg(m_lockPath, systemError()));
    if (m_socketPath.isEmpty()) {
        logLine(kTag, QStringLiteral("No private folder for the socket; a later launch cannot reach this one"));
    } else {
        // a socket left by an instance that did not end cleanly
        QLocalServer::removeServer(m_socketPath);
        if (!m_server.listen(m_socketPath))
            logLine(kTag, QStringLiteral("Cannot listen on %1: %2; a later launch cannot reach this one")
                              .arg(m_socketPath, m_server.errorString()));
    }
    // Written once listening: a launch that reads a pid can connect.
    const QByteArray holder = QByteArray::number(::getpid()) + '\n'
        + (m_server.isListening() ? QFile::encodeName(m_socketPath) : QByteArray()) + '\n';
    if (::pwrite(m_lock, holder.constData(), size_t(holder.size()), 0) != holder.size())
        logLine(kTag, QStringLiteral("Cannot write %1: %2; a later launch cannot reach this one").arg(m_lockPath, systemError()));
    return true;
}

void SingleInstance::answer(QLocalSocket *socket)
{
    if (!socket->canReadLine())
        return;
    if (socket->readLine() != kShowRequest.toByteArray()) {
        socket->disconnectFromServer();
        return;
    }
    logLine(kTag, QStringLiteral("Another launch asked for the window"));
    emit showRequested();
    socket->write(kShown.data(), kShown.size());
    socket->disconnectFromServer(); // once written
}

bool SingleInstance::askRunningInstanceToShowItself(std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    Holder holder = readHolder(m_lockPath);
    // The holder may be starting: it writes its pid right after it listens.
    while (holder.pid == 0 && !deadline.hasExpired()) {
        QThread::msleep(100);
        holder = readHolder(m_lockPath);
    }
    const QString pid = holder.pid > 0 ? QString::number(holder.pid) : QStringLiteral("unknown");
    if (!holder.socketPath.isEmpty()
        && handOver(holder.socketPath, std::chrono::milliseconds(std::max<qint64>(1, deadline.remainingTime())))) {
        logLine(kTag, QStringLiteral("Tavrune is already running (pid %1); its window opens").arg(pid));
        return true;
    }
    logLine(kTag, QStringLiteral("Tavrune is already running (pid %1) but does not answer; it holds the profile (%2), "
                                 "so no second one starts")
                      .arg(pid, m_lockPath));
    return false;
}

bool SingleInstance::handOver(const QString &socketPath, std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(int(std::max<qint64>(1, deadline.remainingTime())))) {
        logLine(kTag, QStringLiteral("Cannot reach %1: %2").arg(socketPath, socket.errorString()));
        return false;
    }
    if (const std::optional<uid_t> peer = peerUser(socket.socketDescriptor()); peer != ::geteuid()) {
        logLine(kTag, QStringLiteral("%1 is answered by another user (uid %2); not trusting it")
                          .arg(socketPath, peer ? QString::number(*peer) : QStringLiteral("unknown")));
        return false;
    }
    socket.write(kShowRequest.data(), kShowRequest.size());
    QByteArray reply;
    while (!reply.endsWith('\n') && socket.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime()))))
        reply += socket.readAll();
    return reply == kShown.toByteArray();
}

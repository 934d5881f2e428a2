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
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr const char *kTag = "SingleInstance";
constexpr QByteArrayView kShowRequest = "show\n";
constexpr QByteArrayView kShown = "shown\n";
constexpr auto kPoll = std::chrono::milliseconds(100);

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

int remainingMs(const QDeadlineTimer &deadline)
{
    return int(std::max<qint64>(1, deadline.remainingTime()));
}

// The file naming the holder, when it is a regular file of this user's:
// never through a link, and never a FIFO or a device, whose open or read
// may block or do something. -1 otherwise.
int openHolderFile(const QString &path, int flags)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info = {};
    if (::lstat(name.constData(), &info) == 0 && !S_ISREG(info.st_mode))
        return -1;
    const int file = ::open(name.constData(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (file < 0)
        return -1;
    if (::fstat(file, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        ::close(file);
        return -1;
    }
    return file;
}

// What the holder of the lock wrote: "pid\nsocket path\n". pid is 0 when
// nothing usable is there (not written yet, or not writable).
struct Holder {
    qint64 pid = 0;
    QString socketPath;
};

Holder readHolder(const QString &holderPath)
{
    const int file = openHolderFile(holderPath, O_RDONLY);
    if (file < 0)
        return {};
    QByteArray content(4096, Qt::Uninitialized);
    const ssize_t size = ::pread(file, content.data(), size_t(content.size()), 0);
    ::close(file);
    content.truncate(std::max<ssize_t>(0, size));
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

// Who is at the other end of a connected local socket.
std::optional<struct ucred> peer(qintptr descriptor)
{
    struct ucred credentials = {};
    socklen_t size = sizeof credentials;
    if (::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return std::nullopt;
    return credentials;
}

// TMPDIR only when absolute: a relative one would name a folder that depends
// on where Tavrune was started from.
QString temporaryFolder()
{
    const QString temp = qEnvironmentVariable("TMPDIR");
    if (QDir::isAbsolutePath(temp))
        return QDir::cleanPath(temp);
    if (!temp.isEmpty())
        logLine(kTag, QStringLiteral("TMPDIR is not absolute; using /tmp"));
    return QStringLiteral("/tmp");
}
} // namespace

SingleInstance::SingleInstance(const QString &profileFolder, const QString &socketFolder, QObject *parent)
    : QObject(parent)
    , m_profileFolder(profileFolder)
    , m_holderPath(QDir(profileFolder).filePath(QStringLiteral("tavrune.lock")))
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
    // Emptied, not removed: removing it would let an earlier version that has
    // it open lock a file no later launch sees.
    if (m_holderFile >= 0)
        [[maybe_unused]] const int emptied = ::ftruncate(m_holderFile, 0);
    release();
}

void SingleInstance::release()
{
    if (m_holderFile >= 0)
        ::close(m_holderFile);
    if (m_lock >= 0)
        ::close(m_lock);
    m_holderFile = m_lock = -1;
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
    for (const QString &own : {temporaryFolder() + QStringLiteral("/tavrune-%1").arg(::geteuid()),
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
    m_lock = ::open(QFile::encodeName(m_profileFolder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_lock < 0 || ::flock(m_lock, LOCK_EX | LOCK_NB) != 0) {
        const bool held = m_lock >= 0 && errno == EWOULDBLOCK;
        // Better a second instance now and then than none at all.
        if (!held)
            logLine(kTag, QStringLiteral("Cannot lock %1: %2; not checking for another Tavrune").arg(m_profileFolder, systemError()));
        release();
        return !held;
    }
    m_holderFile = openHolderFile(m_holderPath, O_RDWR | O_CREAT);
    if (m_holderFile >= 0 && ::flock(m_holderFile, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        // an earlier version holds the profile
        release();
        return false;
    }
    if (m_socketPath.isEmpty()) {
        logLine(kTag, QStringLiteral("No private folder for the socket; a later launch cannot reach this one"));
    } else {
        // a socket left by an instance that did not end cleanly
        QLocalServer::removeServer(m_socketPath);
        if (!m_server.listen(m_socketPath))
            logLine(kTag, QStringLiteral("Cannot listen on %1: %2; a later launch cannot reach this one")
                              .arg(m_socketPath, m_server.errorString()));
    }
    // Written once listening: a launch that reads a pid can connect. What an
    // earlier holder wrote is no one's now, and may be longer.
    const QByteArray holder = QByteArray::number(::getpid()) + '\n'
        + (m_server.isListening() ? QFile::encodeName(m_socketPath) : QByteArray()) + '\n';
    if (m_holderFile < 0 || ::ftruncate(m_holderFile, 0) != 0
        || ::pwrite(m_holderFile, holder.constData(), size_t(holder.size()), 0) != holder.size())
        logLine(kTag, QStringLiteral("Cannot write %1 (not a file of yours, or not writable); a launch from another "
                                     "session cannot reach this one")
                          .arg(m_holderPath));
    return true;
}

void SingleInstance::stopAnswering()
{
    if (!m_server.isListening())
        return;
    m_server.close();
    for (QLocalSocket *socket : m_server.findChildren<QLocalSocket *>())
        socket->abort();
    logLine(kTag, QStringLiteral("Quitting: a later launch waits for the profile"));
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
    const Holder holder = readHolder(m_holderPath);
    m_holderPid = holder.pid;
    // The holder listens where this launch would when both use one socket
    // folder; else where it wrote.
    QStringList socketPaths;
    if (!m_socketPath.isEmpty())
        socketPaths.append(m_socketPath);
    if (!holder.socketPath.isEmpty() && holder.socketPath != m_socketPath)
        socketPaths.append(holder.socketPath);
    for (const QString &socketPath : std::as_const(socketPaths)) {
        qint64 answeredBy = 0;
        const QString problem = handOver(socketPath, std::chrono::milliseconds(remainingMs(deadline)), &answeredBy);
        if (problem.isEmpty()) {
            logLine(kTag, QStringLiteral("Tavrune is already running (pid %1); its window opens").arg(answeredBy));
            return true;
        }
        // asked again while it lets go: said once
        if (!m_told.contains(problem))
            logLine(kTag, problem);
        m_told.insert(problem);
    }
    return false;
}

SingleInstance::Outcome SingleInstance::claimOrHandOver(std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    const auto pid = [this] { return m_holderPid > 0 ? QString::number(m_holderPid) : QStringLiteral("unknown"); };
    for (bool told = false;; told = true) {
        if (claim())
            return Outcome::claimed;
        if (askRunningInstanceToShowItself(std::chrono::milliseconds(remainingMs(deadline))))
            return Outcome::handedOver;
        if (deadline.hasExpired())
            break;
        if (!told)
            logLine(kTag, QStringLiteral("The Tavrune that holds the profile (pid %1) does not answer; waiting up to %2 s "
                                         "for it to let go")
                              .arg(pid())
                              .arg((deadline.remainingTime() + 999) / 1000));
        QThread::msleep(ulong(std::min<qint64>(kPoll.count(), remainingMs(deadline))));
    }
    logLine(kTag, QStringLiteral("Tavrune is already running (pid %1) but does not answer; it holds the profile (%2), "
                                 "so no second one starts")
                      .arg(pid(), m_profileFolder));
    return Outcome::stillHeld;
}

QString SingleInstance::handOver(const QString &socketPath, std::chrono::milliseconds timeout, qint64 *answeredBy)
{
    const QDeadlineTimer deadline(timeout);
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(remainingMs(deadline)))
        return QStringLiteral("Cannot reach %1: %2").arg(socketPath, socket.errorString());
    const std::optional<struct ucred> answering = peer(socket.socketDescriptor());
    if (!answering || answering->uid != ::geteuid())
        return QStringLiteral("%1 is answered by another user (uid %2); not trusting it")
            .arg(socketPath, answering ? QString::number(answering->uid) : QStringLiteral("unknown"));
    socket.write(kShowRequest.data(), kShowRequest.size());
    QByteArray reply;
    while (!reply.endsWith('\n') && socket.waitForReadyRead(remainingMs(deadline)))
        reply += socket.readAll();
    if (reply != kShown.toByteArray())
        return QStringLiteral("%1 did not answer").arg(socketPath);
    *answeredBy = answering->pid;
    return {};
}

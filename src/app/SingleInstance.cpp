#include "SingleInstance.h"

#include "support/Log.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>

namespace {
constexpr const char *kTag = "SingleInstance";
constexpr QByteArrayView kShowRequest = "show\n";
constexpr QByteArrayView kShown = "shown\n";
} // namespace

SingleInstance::SingleInstance(const QString &directory, QObject *parent)
    : QObject(parent)
    , m_socketPath(QDir(directory).filePath(QStringLiteral("tavrune.socket")))
    , m_lock(QDir(directory).filePath(QStringLiteral("tavrune.lock")))
{
    // The lock is held for the whole run: only a holder that is gone makes it stale.
    m_lock.setStaleLockTime(0);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { answer(socket); });
            answer(socket);
        }
    });
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::claim()
{
    QDir().mkpath(QFileInfo(m_lock.fileName()).path());
    if (!m_lock.tryLock(0)) {
        if (m_lock.error() == QLockFile::LockFailedError)
            return false;
        // Better a second instance now and then than none at all.
        logLine(kTag, QStringLiteral("Cannot take the lock %1 (error %2); not checking for another Tavrune")
                          .arg(m_lock.fileName())
                          .arg(int(m_lock.error())));
        return true;
    }
    // a socket left by an instance that did not end cleanly
    QLocalServer::removeServer(m_socketPath);
    if (!m_server.listen(m_socketPath))
        logLine(kTag, QStringLiteral("Cannot listen on %1: %2; a later launch cannot reach this one")
                          .arg(m_socketPath, m_server.errorString()));
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
    qint64 pid = 0;
    QString host, application;
    m_lock.getLockInfo(&pid, &host, &application);
    const QDeadlineTimer deadline(timeout);
    // The holder may be starting: it listens right after taking the lock.
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(m_socketPath);
        if (socket.waitForConnected(int(std::max<qint64>(1, deadline.remainingTime())))) {
            socket.write(kShowRequest.data(), kShowRequest.size());
            QByteArray reply;
            while (!reply.endsWith('\n') && socket.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime()))))
                reply += socket.readAll();
            if (reply == kShown.toByteArray()) {
                logLine(kTag, QStringLiteral("Tavrune is already running (pid %1); its window opens").arg(pid));
                return true;
            }
            break;
        }
        QThread::msleep(100);
    }
    logLine(kTag, QStringLiteral("Tavrune is already running (pid %1) but does not answer").arg(pid));
    return false;
}

#pragma once

#include <QLocalServer>
#include <QObject>
#include <QSet>
#include <QString>

#include <chrono>

// One Tavrune per profile. Two would share the voice profile, race each
// other's downloads and take each other's chords, so the first launch locks
// the profile and listens; a later one asks it to open its window and leaves.
//
// The lock is the kernel's (flock) on the profile folder itself: the folder
// is always there and opens read-only whatever lies in it, even on a
// read-only filesystem, and the lock goes with its holder however that ends,
// so no leftover file can keep Tavrune from starting. The socket's name is
// derived from the profile, so a later launch with the same socket folder
// finds it; the holder also writes its pid and socket path into tavrune.lock
// beside the profile, when it can, so a launch from another session (another
// runtime folder) finds it too. Earlier versions locked that file, so it is
// locked as well.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        claimed, // this launch runs
        handedOver, // the running one opened its window
        stillHeld, // the running one neither answered nor let go
    };

    // profileFolder: where the voice profile lives. socketFolder: a private
    // folder for the socket (socketFolder()); empty for none.
    SingleInstance(const QString &profileFolder, const QString &socketFolder, QObject *parent = nullptr);
    ~SingleInstance() override;

    // The runtime folder when it is the user's own and private, else a
    // private folder of Tavrune's own (in the temporary folder, else in the
    // user's cache folder); empty when none is. Never relative.
    static QString socketFolder();

    // Locks the profile and starts listening; false only when a running
    // instance holds the lock.
    bool claim();
    // Asks the instance that holds the lock to open its window, waiting up to
    // timeout for its answer. False when it did not answer, or when what
    // answered is not this user's.
    bool askRunningInstanceToShowItself(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // What a launch does: claims the profile, or has its holder open its
    // window. A holder that does not answer may be quitting: its lock is
    // taken over once it lets go, within timeout.
    Outcome claimOrHandOver(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Once quitting, this one opens no window: a later launch is refused at
    // once and waits for the profile instead of for an answer.
    void stopAnswering();

signals:
    // A later launch asked for the window.
    void showRequested();

private:
    void answer(class QLocalSocket *socket);
    // Why the instance at socketPath did not open its window; empty when it did.
    QString handOver(const QString &socketPath, std::chrono::milliseconds timeout, qint64 *answeredBy);
    void release();

    QString m_profileFolder;
    QString m_holderPath;
    QString m_socketPath;
    int m_lock = -1;
    int m_holderFile = -1;
    qint64 m_holderPid = 0;
    QSet<QString> m_told;
    QLocalServer m_server;
};

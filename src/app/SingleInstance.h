#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

#include <chrono>

// One Tavrune per profile. Two would share the voice profile, race each
// other's downloads and take each other's chords, so the first launch locks
// the profile and listens; a later one asks it to open its window and leaves.
//
// The lock is the kernel's (flock) on tavrune.lock beside the profile: it goes
// with its holder however that ends, so no leftover file can keep Tavrune
// from starting. The holder writes its pid and the path of its socket into
// the file, so a launch from another session (another runtime folder) finds it.
class SingleInstance : public QObject {
    Q_OBJECT
public:
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

signals:
    // A later launch asked for the window.
    void showRequested();

private:
    void answer(class QLocalSocket *socket);
    bool handOver(const QString &socketPath, std::chrono::milliseconds timeout);

    QString m_lockPath;
    QString m_socketPath;
    int m_lock = -1;
    QLocalServer m_server;
};

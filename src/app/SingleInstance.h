#pragma once

#include <QLockFile>
#include <QLocalServer>
#include <QObject>
#include <QString>

#include <chrono>

// One Tavrune per user. Two would share the voice profile, race each other's
// downloads and take each other's chords, so the first launch holds a lock
// and listens; a later one asks it to open its window and leaves.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // The lock and the socket live in directory: the user's runtime directory.
    explicit SingleInstance(const QString &directory, QObject *parent = nullptr);
    ~SingleInstance() override;

    // Takes the lock and starts listening; false only when a running
    // instance holds it.
    bool claim();
    // Asks the instance that holds the lock to open its window, waiting up to
    // timeout for its answer. False when it did not answer.
    bool askRunningInstanceToShowItself(std::chrono::milliseconds timeout = std::chrono::seconds(10));

signals:
    // A later launch asked for the window.
    void showRequested();

private:
    void answer(class QLocalSocket *socket);

    QString m_socketPath;
    QLockFile m_lock;
    QLocalServer m_server;
};

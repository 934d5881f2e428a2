#include "app/SingleInstance.h"
#include "support/PrivateFiles.h"

#include <QtTest>

#include <future>
#include <thread>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
constexpr uid_t kOtherUser = 65534;

// A later launch's request, made from another thread as another process
// would. One that hangs fails the case instead of the whole run.
bool askFromElsewhere(const QString &profile, const QString &sockets)
{
    auto asked = std::make_shared<std::promise<bool>>();
    std::future<bool> answered = asked->get_future();
    std::thread([asked, profile, sockets] {
        SingleInstance later(profile, sockets);
        asked->set_value(later.askRunningInstanceToShowItself(std::chrono::seconds(10)));
    }).detach();
    const QDeadlineTimer deadline(std::chrono::seconds(15));
    while (answered.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents();
    }
    return answered.get();
}

QString lockPath(const QTemporaryDir &profile)
{
    return profile.filePath(QStringLiteral("tavrune.lock"));
}

// Sets an environment variable for one test, or unsets it (value null).
class ScopedEnv {
public:
    ScopedEnv(const char *name, const QByteArray &value)
        : m_name(name), m_wasSet(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
    {
        value.isNull() ? qunsetenv(name) : qputenv(name, value);
    }
    ~ScopedEnv() { m_wasSet ? qputenv(m_name, m_old) : qunsetenv(m_name); }

private:
    const char *m_name;
    bool m_wasSet;
    QByteArray m_old;
};
} // namespace

class tst_SingleInstance : public QObject {
    Q_OBJECT
private slots:
    void aRunningHolderKeepsTheProfileAndShowsItself_data();
    void aRunningHolderKeepsTheProfileAndShowsItself();
    void aLockNoRunningTavruneHoldsIsTakenOverAtOnce_data();
    void aLockNoRunningTavruneHoldsIsTakenOverAtOnce();
    void whateverLiesWhereTheLockFileWasTheProfileIsHeldOnce_data();
    void whateverLiesWhereTheLockFileWasTheProfileIsHeldOnce();
    void theSocketGoesToAPrivateFolderOfTheUsersOwn_data();
    void theSocketGoesToAPrivateFolderOfTheUsersOwn();
    void anAnswerFromAnotherUserIsNotTrusted();
};

void tst_SingleInstance::aRunningHolderKeepsTheProfileAndShowsItself_data()
{
    QTest::addColumn<bool>("sameSocketFolder");
    QTest::addColumn<bool>("laterHasSocketFolder");
    QTest::addColumn<bool>("anotherProfileRuns");
    QTest::newRow("same runtime folder") << true << true << false;
    // another login of the user, or a desktop that sets XDG_RUNTIME_DIR otherwise
    QTest::newRow("another runtime folder") << false << true << false;
    QTest::newRow("no runtime folder for the later launch") << false << false << false;
    // its own Tavrune, started after the first, must not take the first's socket
    QTest::newRow("another profile's beside it") << true << true << true;
}

void tst_SingleInstance::aRunningHolderKeepsTheProfileAndShowsItself()
{
    QFETCH(bool, sameSocketFolder);
    QFETCH(bool, laterHasSocketFolder);
    QFETCH(bool, anotherProfileRuns);
    QTemporaryDir profile, runtime, otherRuntime, otherProfile;
    SingleInstance first(profile.path(), runtime.path());
    QVERIFY(first.claim());
    QSignalSpy shown(&first, &SingleInstance::showRequested);
    std::optional<SingleInstance> beside;
    if (anotherProfileRuns)
        QVERIFY(beside.emplace(otherProfile.path(), runtime.path()).claim());

    // however long the first has run
    const QByteArray lock = QFile::encodeName(lockPath(profile));
    const struct timeval longAgo[2] = {{time(nullptr) - 86400, 0}, {time(nullptr) - 86400, 0}};
    QCOMPARE(utimes(lock.constData(), longAgo), 0);
    const QString laterSockets = !laterHasSocketFolder ? QString() : sameSocketFolder ? runtime.path() : otherRuntime.path();
    SingleInstance later(profile.path(), laterSockets);
    QVERIFY(!later.claim());

    QVERIFY(askFromElsewhere(profile.path(), laterSockets));
    QCOMPARE(shown.size(), 1);
    if (beside) {
        QSignalSpy besideShown(&*beside, &SingleInstance::showRequested);
        QVERIFY(askFromElsewhere(otherProfile.path(), runtime.path()));
        QCOMPARE(besideShown.size(), 1);
        QCOMPARE(shown.size(), 1);
    }
}

void tst_SingleInstance::aLockNoRunningTavruneHoldsIsTakenOverAtOnce_data()
{
    QTest::addColumn<QByteArray>("content");
    QProcess gone;
    gone.start(QStringLiteral("true"));
    QVERIFY(gone.waitForStarted());
    const qint64 pid = gone.processId();
    QVERIFY(gone.waitForFinished());
    // a crash at the wrong moment, a full disk when it was written
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("garbage") << QByteArray("\xff\xfe\x00\x01", 4);
    QTest::newRow("no process") << QByteArray("0\n\n");
    QTest::newRow("a process that is gone")
        << (QByteArray::number(pid) + '\n' + QCoreApplication::applicationName().toUtf8() + '\n'
            + QSysInfo::machineHostName().toUtf8() + '\n');
    QTest::newRow("its pid now another program's") << QByteArray::number(QCoreApplication::applicationPid()) + "\n/nowhere\n";
    // after a reboot pids are short again: no stale tail may follow ours
    QTest::newRow("longer, of an earlier holder")
        << "4194303\n/run/user/1000/" + QByteArray(120, 'x') + "/tavrune-0123456789abcdef.socket\n";
}

void tst_SingleInstance::aLockNoRunningTavruneHoldsIsTakenOverAtOnce()
{
    QFETCH(QByteArray, content);
    QTemporaryDir profile, runtime;
    {
        QFile lock(lockPath(profile));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write(content);
    }
    SingleInstance next(profile.path(), runtime.path());
    QVERIFY(next.claim());
    QSignalSpy shown(&next, &SingleInstance::showRequested);
    // from another session, which finds the socket only through what the holder wrote
    QTemporaryDir otherRuntime;
    QVERIFY(askFromElsewhere(profile.path(), otherRuntime.path()));
    QCOMPARE(shown.size(), 1);
}

void tst_SingleInstance::whateverLiesWhereTheLockFileWasTheProfileIsHeldOnce_data()
{
    QTest::addColumn<QString>("kind");
    for (const char *kind : {"a link to a file", "a dangling link", "a folder", "a FIFO", "a file not writable",
                             "another user's file", "a read-only filesystem"})
        QTest::newRow(kind) << QString::fromLatin1(kind);
}

// Each left two launches running, or (the FIFO) a later one blocked for ever.
void tst_SingleInstance::whateverLiesWhereTheLockFileWasTheProfileIsHeldOnce()
{
    QFETCH(QString, kind);
    QTemporaryDir profile, runtime, elsewhere;
    const QByteArray lock = QFile::encodeName(lockPath(profile));
    const QByteArray target = QFile::encodeName(elsewhere.filePath(QStringLiteral("target")));
    {
        QFile file(QFile::decodeName(target));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("kept") == 4);
    }
    const QByteArray profileName = QFile::encodeName(profile.path());
    bool mounted = false;
    const auto unmount = qScopeGuard([&] {
        if (mounted)
            ::umount2(profileName.constData(), MNT_DETACH);
    });
    if (kind == QLatin1String("a link to a file")) {
        QCOMPARE(::symlink(target.constData(), lock.constData()), 0);
    } else if (kind == QLatin1String("a dangling link")) {
        QCOMPARE(::symlink(QFile::encodeName(elsewhere.filePath(QStringLiteral("gone"))).constData(), lock.constData()), 0);
    } else if (kind == QLatin1String("a folder")) {
        QCOMPARE(::mkdir(lock.constData(), 0700), 0);
    } else if (kind == QLatin1String("a FIFO")) {
        QCOMPARE(::mkfifo(lock.constData(), 0600), 0);
    } else if (kind == QLatin1String("a file not writable") || kind == QLatin1String("another user's file")) {
        QVERIFY(QFile::copy(QFile::decodeName(target), lockPath(profile)));
        QCOMPARE(::chmod(lock.constData(), 0400), 0);
        if (kind == QLatin1String("another user's file") && ::chown(lock.constData(), kOtherUser, kOtherUser) != 0)
            QSKIP("giving a file to another user needs root");
    } else {
        if (::mount("tavrune-test", profileName.constData(), "tmpfs", MS_RDONLY, nullptr) != 0)
            QSKIP("mounting a filesystem needs root");
        mounted = true;
    }

    SingleInstance first(profile.path(), runtime.path());
    QVERIFY(first.claim());
    SingleInstance second(profile.path(), runtime.path());
    QVERIFY(!second.claim());
    QSignalSpy shown(&first, &SingleInstance::showRequested);
    QVERIFY(askFromElsewhere(profile.path(), runtime.path()));
    QCOMPARE(shown.size(), 1);
    // not written through the link
    QFile kept(QFile::decodeName(target));
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("kept"));
}

void tst_SingleInstance::theSocketGoesToAPrivateFolderOfTheUsersOwn_data()
{
    // the runtime folder; the one in the temporary folder Tavrune makes itself
    QTest::addColumn<QString>("runtimeFolder");
    QTest::addColumn<QString>("ownFolder");
    QTest::addColumn<QString>("chosen");
    QTest::newRow("the runtime folder") << "private" << "missing" << "runtime";
    QTest::newRow("XDG_RUNTIME_DIR unset") << "unset" << "missing" << "own";
    QTest::newRow("XDG_RUNTIME_DIR relative") << "relative" << "missing" << "own";
    QTest::newRow("runtime folder of another user") << "another user's" << "private" << "own";
    QTest::newRow("runtime folder open to others") << "open" << "missing" << "own";
    QTest::newRow("runtime folder open to its group") << "open to its group" << "missing" << "own";
    QTest::newRow("own folder made first by another user") << "unset" << "another user's" << "cache";
    QTest::newRow("own folder open to others") << "unset" << "open" << "cache";
    QTest::newRow("own folder a link to another user's") << "unset" << "link" << "cache";
    // where Tavrune was started from must not matter
    QTest::newRow("TMPDIR relative") << "unset" << "TMPDIR relative" << "/tmp";
}

void tst_SingleInstance::theSocketGoesToAPrivateFolderOfTheUsersOwn()
{
    QFETCH(QString, runtimeFolder);
    QFETCH(QString, ownFolder);
    QFETCH(QString, chosen);
    if ((runtimeFolder.contains(QLatin1String("user")) || ownFolder.contains(QLatin1String("user"))
         || ownFolder == QLatin1String("link"))
        && ::geteuid() != 0)
        QSKIP("giving a folder to another user needs root");
    QTemporaryDir temp, home, foreign;
    QVERIFY(QFile::setPermissions(temp.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QString runtime = home.filePath(QStringLiteral("runtime"));
    const QString own = temp.filePath(QStringLiteral("tavrune-%1").arg(::geteuid()));
    const QString cache = home.filePath(QStringLiteral("cache/tavrune"));
    QVERIFY(QFile::setPermissions(foreign.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QCOMPARE(::chown(QFile::encodeName(foreign.path()).constData(), kOtherUser, kOtherUser), ::geteuid() == 0 ? 0 : -1);

    const auto prepare = [&](const QString &path, const QString &state) {
        const QByteArray name = QFile::encodeName(path);
        if (state == QLatin1String("link"))
            return ::symlink(QFile::encodeName(foreign.path()).constData(), name.constData()) == 0;
        if (state == QLatin1String("missing") || state == QLatin1String("unset") || state == QLatin1String("relative")
            || state == QLatin1String("TMPDIR relative"))
            return true;
        const mode_t mode = state == QLatin1String("open") ? 0755 : state == QLatin1String("open to its group") ? 0750 : 0700;
        if (::mkdir(name.constData(), mode) != 0 || ::chmod(name.constData(), mode) != 0)
            return false;
        return state != QLatin1String("another user's") || ::chown(name.constData(), kOtherUser, kOtherUser) == 0;
    };
    QVERIFY(prepare(runtime, runtimeFolder));
    QVERIFY(prepare(own, ownFolder));
    const QByteArray runtimeValue = runtimeFolder == QLatin1String("unset") ? QByteArray()
        : runtimeFolder == QLatin1String("relative")                        ? QByteArray("runtime")
                                                                            : QFile::encodeName(runtime);
    ScopedEnv runtimeEnv("XDG_RUNTIME_DIR", runtimeValue);
    const bool relativeTemp = ownFolder == QLatin1String("TMPDIR relative");
    ScopedEnv tempEnv("TMPDIR", relativeTemp ? QByteArray("tmp") : QFile::encodeName(temp.path()));
    ScopedEnv cacheEnv("XDG_CACHE_HOME", QFile::encodeName(home.filePath(QStringLiteral("cache"))));
    const QString systemOwn = QStringLiteral("/tmp/tavrune-%1").arg(::geteuid());
    if (relativeTemp && QFileInfo::exists(systemOwn) && !PrivateFiles::checkOwnFolder(systemOwn, false).isEmpty())
        QSKIP("the system's temporary folder holds an unusable folder of Tavrune's");

    const QString folder = SingleInstance::socketFolder();
    QCOMPARE(folder, chosen == QLatin1String("runtime") ? runtime
                 : chosen == QLatin1String("own")       ? own
                 : chosen == QLatin1String("/tmp")      ? systemOwn
                                                        : cache);
    struct stat info = {};
    QCOMPARE(::lstat(QFile::encodeName(folder).constData(), &info), 0);
    QVERIFY(S_ISDIR(info.st_mode));
    QCOMPARE(info.st_uid, ::geteuid());
    QCOMPARE(info.st_mode & 0777, 0700u);

    // and a later launch reaches the holder there
    QTemporaryDir profile;
    SingleInstance first(profile.path(), folder);
    QVERIFY(first.claim());
    QSignalSpy shown(&first, &SingleInstance::showRequested);
    QVERIFY(askFromElsewhere(profile.path(), folder));
    QCOMPARE(shown.size(), 1);
}

void tst_SingleInstance::anAnswerFromAnotherUserIsNotTrusted()
{
    if (::geteuid() != 0)
        QSKIP("answering as another user needs root");
    QTemporaryDir profile, runtime;
    // another user's Tavrune-like server that answers every request
    const QByteArray socketPath = QFile::encodeName(runtime.filePath(QStringLiteral("tavrune.socket")));
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    QVERIFY(listener >= 0);
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.constData(), sizeof address.sun_path - 1);
    QCOMPARE(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    const pid_t server = ::fork();
    QVERIFY(server >= 0);
    if (server == 0) {
        ::alarm(20);
        // the peer's credentials are the listener's at listen()
        if (::setgid(kOtherUser) != 0 || ::setuid(kOtherUser) != 0 || ::listen(listener, 4) != 0)
            ::_exit(1);
        for (;;) {
            const int connection = ::accept(listener, nullptr, nullptr);
            char request[16];
            if (::read(connection, request, sizeof request) > 0)
                [[maybe_unused]] const ssize_t written = ::write(connection, "shown\n", 6);
            ::close(connection);
        }
    }
    ::close(listener);
    const auto listening = [&socketPath] {
        const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        struct sockaddr_un to = {};
        to.sun_family = AF_UNIX;
        std::strncpy(to.sun_path, socketPath.constData(), sizeof to.sun_path - 1);
        const bool connected = ::connect(probe, reinterpret_cast<sockaddr *>(&to), sizeof to) == 0;
        ::close(probe);
        return connected;
    };
    const auto stopServer = qScopeGuard([server] {
        ::kill(server, SIGKILL);
        ::waitpid(server, nullptr, 0);
    });
    QTRY_VERIFY(listening());

    // the profile held by a process that gives that socket
    const int lock = ::open(QFile::encodeName(lockPath(profile)).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    QVERIFY(lock >= 0);
    const auto closeLock = qScopeGuard([lock] { ::close(lock); });
    QCOMPARE(::flock(lock, LOCK_EX | LOCK_NB), 0);
    const QByteArray holder = "4242\n" + socketPath + '\n';
    QCOMPARE(::write(lock, holder.constData(), size_t(holder.size())), ssize_t(holder.size()));

    SingleInstance later(profile.path(), runtime.path());
    QVERIFY(!later.claim());
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression(QStringLiteral("another user \\(uid 65534\\); not trusting it")));
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression(QStringLiteral("running \\(pid 4242\\) but does not answer; it holds")));
    QCOMPARE(later.claimOrHandOver(std::chrono::milliseconds(300)), SingleInstance::Outcome::stillHeld);
}

QTEST_GUILESS_MAIN(tst_SingleInstance)
#include "tst_SingleInstance.moc"

#include "ChildProcess.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

using namespace std::chrono;

namespace {
void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

qint64 msSince(steady_clock::time_point start)
{
    return duration_cast<milliseconds>(steady_clock::now() - start).count();
}

// Our end of the socket the watcher reads; -1 while there is no watcher. Each
// message is one line, written at once: "+<group>" and "-<group>" for a child
// started and ended, "d<directory>" for what to remove.
int watcherSocket = -1;

void tellWatcher(const QByteArray &message)
{
    if (watcherSocket < 0)
        return;
    const QByteArray line = message + '\n';
    // a watcher gone is no reason for the suite to die of SIGPIPE
    while (::send(watcherSocket, line.constData(), size_t(line.size()), MSG_NOSIGNAL) < 0 && errno == EINTR) {
    }
}

// The watcher, in the forked process: only async-signal-safe calls from here.
// Reads messages until the socket's other end closes, which happens when the
// test process ends, then ends the groups still listed and removes the
// directory.
[[noreturn]] void watch(int input)
{
    constexpr int maxGroups = 256;
    pid_t groups[maxGroups];
    int count = 0;
    static char directory[4096];
    directory[0] = 0;
    char line[4096];
    int length = 0;
    for (;;) {
        char c;
        const ssize_t n = ::read(input, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (c != '\n') {
            if (length < int(sizeof line) - 1)
                line[length++] = c;
            continue;
        }
        line[length] = 0;
        if (line[0] == 'd') {
            int i = 0;
            for (; line[i + 1] && i < int(sizeof directory) - 1; ++i)
                directory[i] = line[i + 1];
            directory[i] = 0;
        } else if (line[0] == '+' || line[0] == '-') {
            pid_t group = 0;
            for (int i = 1; line[i] >= '0' && line[i] <= '9'; ++i)
                group = group * 10 + (line[i] - '0');
            if (line[0] == '+' && count < maxGroups) {
                groups[count++] = group;
            } else if (line[0] == '-') {
                for (int i = 0; i < count; ++i) {
                    if (groups[i] == group) {
                        groups[i] = groups[--count];
                        break;
                    }
                }
            }
        }
        length = 0;
    }
    for (int i = 0; i < count; ++i)
        ::kill(-groups[i], SIGTERM);
    // a grace period as stop() gives, then whatever is left goes for good
    for (int waited = 0; waited < 200; ++waited) {
        bool alive = false;
        for (int i = 0; i < count; ++i)
            alive = alive || ::kill(-groups[i], 0) == 0;
        if (!alive)
            break;
        const timespec tick{0, 10 * 1000 * 1000};
        ::nanosleep(&tick, nullptr);
    }
    for (int i = 0; i < count; ++i)
        ::kill(-groups[i], SIGKILL);
    if (directory[0])
        ::execlp("rm", "rm", "-rf", "--", directory, static_cast<char *>(nullptr));
    ::_exit(0);
}
} // namespace

void ChildProcess::endChildrenWhenThisProcessDies(const QString &directory)
{
    if (watcherSocket < 0) {
        int fds[2];
        // close-on-exec: no child may hold it open after we are gone
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
            return;
        // Forked twice, so it is no child of ours (nor of a subreaper we
        // become later) that our own clean-up or a kill of our tree would end.
        const pid_t middle = ::fork();
        if (middle == 0) {
            if (::fork() != 0)
                ::_exit(0);
            // Its own group: a signal meant for the test's group spares it.
            ::setpgid(0, 0);
            ::dup2(fds[0], 0);
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::syscall(SYS_close_range, 3u, ~0u, 0u);
            watch(0);
        }
        ::close(fds[0]);
        if (middle < 0) {
            ::close(fds[1]);
            return;
        }
        ::waitpid(middle, nullptr, 0);
        watcherSocket = fds[1];
    }
    tellWatcher("d" + QFile::encodeName(directory));
}

bool ChildProcess::start(const QString &program, const QStringList &arguments, const Options &options)
{
    if (m_pid > 0)
        return false;
    int inPipe[2] = {-1, -1}, outPipe[2] = {-1, -1};
    if (options.pipes && (::pipe2(inPipe, O_CLOEXEC) != 0 || ::pipe2(outPipe, O_CLOEXEC) != 0))
        return false;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const QByteArray log = options.logFile.isEmpty() ? QByteArray("/dev/null") : QFile::encodeName(options.logFile);
    if (options.pipes) {
        posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, log.constData(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    }
    posix_spawn_file_actions_addopen(&actions, 2, log.constData(), O_WRONLY | O_CREAT | O_APPEND, 0644);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);

    const QByteArray programBytes = QFile::encodeName(program);
    std::vector<QByteArray> argStorage{programBytes};
    for (const QString &argument : arguments)
        argStorage.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &a : argStorage)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, programBytes.constData(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);

    closeFd(inPipe[0]);
    closeFd(outPipe[1]);
    m_stdin = inPipe[1];
    m_stdout = outPipe[0];
    if (rc != 0) {
        stop();
        return false;
    }
    m_pid = pid;
    m_exitCode = -1;
    tellWatcher("+" + QByteArray::number(m_pid));
    return true;
}

void ChildProcess::reap(bool block)
{
    if (m_pid <= 0)
        return;
    int status = 0;
    const pid_t r = ::waitpid(m_pid, &status, block ? 0 : WNOHANG);
    if (r == m_pid || (r < 0 && errno == ECHILD)) {
        m_exitCode = (r == m_pid && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
        // once reaped, its number may name someone else's group
        tellWatcher("-" + QByteArray::number(m_pid));
        m_pid = -1;
    }
}

bool ChildProcess::isRunning()
{
    reap(false);
    return m_pid > 0;
}

bool ChildProcess::waitForFinished(milliseconds timeout)
{
    const auto start = steady_clock::now();
    while (isRunning()) {
        if (msSince(start) >= timeout.count())
            return false;
        std::this_thread::sleep_for(milliseconds(10));
    }
    return true;
}

void ChildProcess::stop(milliseconds grace)
{
    closeFd(m_stdin);
    if (m_pid > 0) {
        const pid_t group = m_pid;
        ::kill(-group, SIGTERM);
        if (!waitForFinished(grace)) {
            ::kill(-group, SIGKILL);
            reap(true);
        }
        // helpers the child spawned into its group
        ::kill(-group, SIGKILL);
    }
    closeFd(m_stdout);
}

bool ChildProcess::writeLine(const QByteArray &line)
{
    const QByteArray data = line + '\n';
    for (qsizetype done = 0; done < data.size() && m_stdin >= 0;) {
        const ssize_t n = ::write(m_stdin, data.constData() + done, size_t(data.size() - done));
        if (n < 0 && errno != EINTR)
            return false;
        done += std::max<ssize_t>(n, 0);
    }
    return m_stdin >= 0;
}

bool ChildProcess::readLineFrom(int fd, QByteArray &buffer, QByteArray *line, milliseconds timeout)
{
    const auto start = steady_clock::now();
    qsizetype newline;
    while ((newline = buffer.indexOf('\n')) < 0) {
        const qint64 left = timeout.count() - msSince(start);
        pollfd p{fd, POLLIN, 0};
        const int r = fd < 0 || left <= 0 ? 0 : ::poll(&p, 1, int(left));
        if (r < 0 && errno == EINTR)
            continue;
        char chunk[4096];
        const ssize_t n = r > 0 ? ::read(fd, chunk, sizeof chunk) : 0;
        if (n <= 0)
            return false;
        buffer.append(chunk, n);
    }
    *line = buffer.left(newline);
    buffer.remove(0, newline + 1);
    return true;
}

int runProgram(const QString &program, const QStringList &arguments, milliseconds timeout, QByteArray *output)
{
    ChildProcess child;
    ChildProcess::Options options;
    options.pipes = output != nullptr;
    if (!child.start(program, arguments, options))
        return -1;
    const auto start = steady_clock::now();
    if (output)
        output->clear();
    // Keep our own event loop turning: the program may need an answer from
    // us, say when we own the clipboard it reads.
    const bool pump = QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
    while (child.isRunning() && msSince(start) < timeout.count()) {
        QByteArray line;
        if (output && child.readLine(&line, milliseconds(5)))
            output->append(line).append('\n');
        else
            std::this_thread::sleep_for(milliseconds(2));
        if (pump)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    if (output) {
        QByteArray line;
        while (child.readLine(&line, milliseconds(100)))
            output->append(line).append('\n');
        output->append(child.m_stdoutBuffer);
    }
    if (!child.waitForFinished(milliseconds(std::max<qint64>(0, timeout.count() - msSince(start))))) {
        child.stop(milliseconds(200));
        return -1;
    }
    return child.exitCode();
}

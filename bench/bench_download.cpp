// Downloads a large model file from the loopback server with ModelDownloadService
// and with `curl -o`, and prints the median throughput ratio (goal: at least 0.9)
// and the peak resident memory while streaming (goal: under 64 MB, the same for
// a small and a large file).
//
//     bench_download [bytes, default 1000000000] [runs, default 5]
#include "models/ModelDescriptor.h"
#include "models/ModelDownloadService.h"
#include "models/ModelManager.h"
#include "platform/fake/FakePlatform.h"
#include "support/LoopbackHttpServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <algorithm>
#include <cstdio>

namespace {

// Peak resident set of this process since the last reset, in MiB.
double peakResidentMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}

void resetPeakResident()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Run {
    double seconds = 0;
    double peakMiB = 0;
};

Run downloadWithService(Paths &paths, const QUrl &url, qint64 size)
{
    ModelManager manager(paths);
    // a model checked for its start and size only: random bytes are no Whisper model
    ModelDescriptor model = ModelDescriptor::qwenRewrite();
    model.downloadURL = url;
    model.expectedBytes = size;
    ModelDownloadService service;
    const QString destination = QDir(manager.modelsDirectory()).filePath(model.id);

    resetPeakResident();
    QElapsedTimer timer;
    timer.start();
    QFuture<void> future = service.download(model, &manager);
    while (!future.isFinished())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    Run run{timer.nsecsElapsed() / 1e9, peakResidentMiB()};
    try {
        future.waitForFinished();
    } catch (...) {
        std::fprintf(stderr, "download failed\n");
        std::exit(1);
    }
    if (QFileInfo(destination).size() != size) {
        std::fprintf(stderr, "downloaded file has the wrong size\n");
        std::exit(1);
    }
    QFile::remove(destination);
    return run;
}

double downloadWithCurl(const QUrl &url, const QString &target)
{
    QElapsedTimer timer;
    timer.start();
    QProcess curl;
    curl.start(QStringLiteral("curl"), {QStringLiteral("-s"), QStringLiteral("-o"), target, url.toString()});
    if (!curl.waitForFinished(-1) || curl.exitCode() != 0) {
        std::fprintf(stderr, "curl failed\n");
        std::exit(1);
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    QFile::remove(target);
    return seconds;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // one log line per 50 MiB is noise here
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    const qint64 size = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1'000'000'000;
    const int runs = argc > 2 ? QByteArray(argv[2]).toInt() : 5;

    FakePlatform &platform = FakePlatform::installNew();
    LoopbackHttpServer server;
    // both start like a GGUF model, or the service would refuse them
    auto file = LoopbackHttpServer::Response::generated(size, 1, "GGUF");
    file.honourRange = true;
    server.setResponse(QStringLiteral("/model.bin"), file);
    const qint64 small = std::max<qint64>(size / 10, 2'000'000);
    server.setResponse(QStringLiteral("/small.bin"), LoopbackHttpServer::Response::generated(small, 2, "GGUF"));
    const QUrl url = server.url(QStringLiteral("/model.bin"));
    const QString curlTarget = platform.fakePaths().root() + QStringLiteral("/curl.bin");

    QList<double> ratios, ours, theirs;
    double peak = 0;
    for (int i = 0; i < runs; ++i) {
        const double curlSeconds = downloadWithCurl(url, curlTarget);
        const Run run = downloadWithService(platform.paths(), url, size);
        theirs.append(size / curlSeconds / 1e6);
        ours.append(size / run.seconds / 1e6);
        ratios.append(curlSeconds / run.seconds);
        peak = std::max(peak, run.peakMiB);
    }
    const Run smallRun = downloadWithService(platform.paths(), server.url(QStringLiteral("/small.bin")), small);

    std::printf("download of %lld bytes, %d runs\n", size, runs);
    std::printf("  curl -o            median %8.1f MB/s\n", median(theirs));
    std::printf("  ModelDownloadService median %6.1f MB/s\n", median(ours));
    std::printf("  throughput ratio (service / curl) median %.2f (goal >= 0.9): %s\n", median(ratios),
                median(ratios) >= 0.9 ? "met" : "NOT met");
    std::printf("  peak resident memory while streaming: %.1f MiB for %lld bytes, %.1f MiB for %lld bytes"
                " (goal < 64 MiB): %s\n",
                peak, size, smallRun.peakMiB, small, peak < 64 ? "met" : "NOT met");
    return 0;
}

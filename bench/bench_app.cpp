// The application as a process on a throwaway desktop with a tray: launch to
// "Setup complete" and to the hotkeys grabbed (median of 5), and resident
// memory idle after launch and after one hold-to-talk dictation. Xvfb renders
// with Mesa's llvmpipe, whose compiler counts towards the resident memory.
#include "DesktopHarness.h"
#include "TavruneProcess.h"
#include "pipeline/WavEncoder.h"
#include "support/SynthesizedSpeech.h"

#include <QFile>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

using namespace std::chrono;

namespace {
constexpr int kRuns = 5;

// Milliseconds from now until the log holds each marker (-1 for those that never came).
QList<double> timeToLogLines(const TavruneProcess &app, steady_clock::time_point start, const QStringList &markers)
{
    QList<double> times(markers.size(), -1);
    while (steady_clock::now() - start < seconds(30) && times.contains(-1)) {
        const QString log = app.log();
        for (qsizetype i = 0; i < markers.size(); ++i) {
            if (times[i] < 0 && log.contains(markers[i]))
                times[i] = duration<double, std::milli>(steady_clock::now() - start).count();
        }
        std::this_thread::sleep_for(milliseconds(1));
    }
    return times;
}

double residentMegabytes(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? -1 : values[values.size() / 2];
}

void report(const char *what, double value, double goal, const char *unit)
{
    std::printf("%-44s %8.1f %s, %.2fx the %.0f %s goal\n", what, value, unit, value / goal, goal, unit);
}

int measure(DesktopHarness &desktop)
{
    qputenv("TAVRUNE_DOWNLOAD_BASE_URL", "http://127.0.0.1:9");
    const QString log = desktop.runDir() + QStringLiteral("/tavrune.log");
    QList<double> setup, hotkeys;
    for (int run = 0; run < kRuns; ++run) {
        QFile::remove(log);
        TavruneProcess app(log);
        const auto start = steady_clock::now();
        if (!app.start(QStringLiteral(TAVRUNE_APP)))
            return 1;
        const QList<double> times = timeToLogLines(
            app, start, {QStringLiteral("[AppDelegate] Setup complete"), QStringLiteral("[Hotkey] Registered")});
        if (times.contains(-1)) {
            std::fprintf(stderr, "launch %d did not finish:\n%s\n", run, qPrintable(app.log()));
            return 1;
        }
        setup << times[0];
        hotkeys << times[1];
        if (run < kRuns - 1 && app.stop() != 0)
            return 1;
        if (run < kRuns - 1)
            continue;

        // The last one stays for memory: idle, then after one dictation.
        DesktopHarness::waitUntil([] { return false; }, seconds(3));
        const double idle = residentMegabytes(app.pid());
        const QString speech = desktop.runDir() + QStringLiteral("/speech.wav");
        QFile wav(speech);
        if (!wav.open(QIODevice::WriteOnly)
            || wav.write(WavEncoder::makeWAVData(SynthesizedSpeech::samples(QStringLiteral("hello world, the weather is nice today"))))
                <= 44)
            return 1;
        wav.close();
        desktop.xdotool({QStringLiteral("keydown"), QStringLiteral("alt+space")});
        app.waitForLog(QStringLiteral("[Coordinator] Dictation started"));
        desktop.playIntoMicrophone(speech);
        desktop.xdotool({QStringLiteral("keyup"), QStringLiteral("space"), QStringLiteral("alt")});
        if (!app.waitForLog(QStringLiteral("[Coordinator] Weighted merge complete"), seconds(60))) {
            std::fprintf(stderr, "the dictation did not finish:\n%s\n", qPrintable(app.log()));
            return 1;
        }
        DesktopHarness::waitUntil([] { return false; }, seconds(3));
        const double dictated = residentMegabytes(app.pid());
        const bool base = !app.log().contains(QLatin1String("Whisper Base is not installed"));
        report("launch to \"Setup complete\" (median of 5)", median(setup), 500, "ms");
        report("launch to hotkeys grabbed (median of 5)", median(hotkeys), 500, "ms");
        report("resident memory idle after launch", idle, 150, "MB");
        report(base ? "resident memory after one dictation (Base)" : "resident memory after one dictation (no model)",
               dictated, 250, "MB");
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    DesktopHarness desktop;
    if (!desktop.start(DesktopHarness::Options{.trayHost = true})) {
        std::fprintf(stderr, "desktop did not start: %s\n", qPrintable(desktop.errorString()));
        return 1;
    }
    int status = 1;
    {
        QCoreApplication app(argc, argv);
        status = measure(desktop);
    }
    desktop.stop();
    return status;
}

// The headless demo behind scripts/run: a private desktop, a text window,
// Tavrune itself, and one hold-to-talk dictation of a real read-speech clip.
// Prints what was said and what landed in the window, saves screenshots, and
// exits 0 only when words that were said arrived.
//
// usage: tavrune_demo <tavrune executable> <clip.wav> <transcript> <screenshot dir>

#include "DesktopHarness.h"
#include "TavruneProcess.h"

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <QRegularExpression>
#include <QScreen>
#include <QTextStream>

#include <cstdio>

using namespace std::chrono;

namespace {

QTextStream out(stdout);

void say(const QString &line)
{
    out << line << Qt::endl;
}

bool saveScreen(const QString &path)
{
    QScreen *screen = QGuiApplication::primaryScreen();
    const bool saved = screen && screen->grabWindow(0).save(path);
    if (saved)
        say(QStringLiteral("  screenshot: %1").arg(path));
    return saved;
}

// Some word of four letters or more that was said arrived: text, not noise.
bool heardSomeOfIt(const QString &said, const QString &typed)
{
    const auto words = [](const QString &text) {
        return text.toLower().remove(QRegularExpression(QStringLiteral("[^a-z ]"))).split(u' ', Qt::SkipEmptyParts);
    };
    const QStringList saidWords = words(said);
    for (const QString &word : words(typed)) {
        if (word.size() >= 4 && saidWords.contains(word))
            return true;
    }
    return false;
}

// The target's text once it has stopped changing for a moment.
QString settledText(TargetApp &target, milliseconds limit)
{
    QString text;
    auto stableSince = steady_clock::now();
    DesktopHarness::waitUntil(
        [&] {
            const QString now = target.text(TargetApp::textArea).trimmed();
            if (now != text) {
                text = now;
                stableSince = steady_clock::now();
            }
            return !text.isEmpty() && steady_clock::now() - stableSince > milliseconds(1500);
        },
        limit);
    return text;
}

// Runs xdotool until it succeeds (and prints expected, when given), for up to 10 s.
bool waitUntilXdotoolFinds(const QStringList &arguments, const QString &expected = {})
{
    return DesktopHarness::waitUntil(
        [&] {
            QByteArray output;
            return runProgram(QStringLiteral("xdotool"), arguments, seconds(2), &output) == 0
                && (expected.isEmpty() || output.trimmed() == expected.toLatin1());
        },
        seconds(10));
}

int runDemo(DesktopHarness &desktop, const QStringList &args)
{
    const QString app = args.at(0), clip = args.at(1), transcript = args.at(2);
    const QString shots = QDir(args.at(3)).absolutePath();
    QDir().mkpath(shots);

    say(QStringLiteral("Desktop %1 is up (Xvfb, PulseAudio, accessibility bus).").arg(desktop.display()));
    // model and voice downloads at launch stay on this machine
    qputenv("TAVRUNE_DOWNLOAD_BASE_URL", "http://127.0.0.1:9");

    TavruneProcess tavrune(desktop.runDir() + QStringLiteral("/tavrune.log"));
    if (!tavrune.start(app) || !tavrune.waitForLog(QStringLiteral("[AppDelegate] Setup complete"), seconds(30))) {
        say(QStringLiteral("Tavrune did not start:\n") + tavrune.log());
        return 1;
    }
    say(QStringLiteral("Tavrune is running."));
    // With no tray here its window opens at launch; let it come up before the
    // text window takes the focus, so it cannot take the focus back.
    waitUntilXdotoolFinds({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                           QStringLiteral("^Tavrune$")});

    TargetApp *target = desktop.startTarget(true);
    if (!target || !target->focus(TargetApp::textArea)) {
        say(QStringLiteral("The text window did not start: ") + desktop.errorString());
        return 1;
    }
    const QString targetWindow = QString::number(target->windowId());
    if (!waitUntilXdotoolFinds({QStringLiteral("getactivewindow")}, targetWindow)) {
        say(QStringLiteral("The text window did not get the focus."));
        return 1;
    }
    say(QStringLiteral("A text window has the focus. Holding Alt+Space and speaking..."));

    desktop.xdotool({QStringLiteral("keydown"), QStringLiteral("alt+space")});
    DesktopHarness::waitUntil([] { return false; }, milliseconds(300));
    const bool played = desktop.playIntoMicrophone(clip, false);
    DesktopHarness::waitUntil([] { return false; }, milliseconds(2500));
    saveScreen(shots + QStringLiteral("/overlay.png"));
    // the rest of the clip, then a short pause before letting go
    DesktopHarness::waitUntil([] { return false; }, milliseconds(5500));
    desktop.xdotool({QStringLiteral("keyup"), QStringLiteral("space"), QStringLiteral("alt")});

    const QString typed = settledText(*target, seconds(45));
    saveScreen(shots + QStringLiteral("/after-dictation.png"));
    desktop.xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                     QStringLiteral("^Tavrune$"),
                     QStringLiteral("windowactivate"), QStringLiteral("--sync")});
    DesktopHarness::waitUntil([] { return false; }, milliseconds(500));
    saveScreen(shots + QStringLiteral("/menubar-window.png"));

    say(QString());
    say(QStringLiteral("What was said:  ") + transcript);
    say(QStringLiteral("What was typed: ") + (typed.isEmpty() ? QStringLiteral("(nothing)") : typed));
    if (!played)
        say(QStringLiteral("(the clip could not be played into the microphone)"));
    const int status = tavrune.stop();
    say(QStringLiteral("Tavrune quit with status %1. Log: %2").arg(status).arg(desktop.runDir() + QStringLiteral("/tavrune.log")));
    const bool heard = heardSomeOfIt(transcript, typed);
    if (!heard) {
        // what Tavrune itself said about the dictation, for the reader
        const QStringList lines = tavrune.log().split(QLatin1Char('\n'));
        say(QStringLiteral("Tavrune's log ends:\n") + lines.mid(std::max<qsizetype>(0, lines.size() - 40)).join(QLatin1Char('\n')));
    }
    return heard ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s <tavrune> <clip.wav> <transcript> <screenshot dir>\n", argv[0]);
        return 2;
    }
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    // keep the desktop's files (and Tavrune's log) for the reader, unless told not to
    if (!qEnvironmentVariableIsSet("TAVRUNE_E2E_KEEP"))
        qputenv("TAVRUNE_E2E_KEEP", "1");
    DesktopHarness desktop;
    if (!desktop.start(DesktopHarness::Options{})) {
        std::fprintf(stderr, "the demo desktop did not start: %s\n", qPrintable(desktop.errorString()));
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    int status = 1;
    {
        int qtArgc = 1;
        QGuiApplication qtApp(qtArgc, argv);
        status = runDemo(desktop, args);
    }
    desktop.stop();
    return status;
}

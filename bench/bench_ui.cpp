// The interface on a throwaway X desktop (Xvfb + openbox): the overlay's
// frame time while its level meter, mascot and a running stage animate, the
// time from the overlay's show() to its first frame, and the time from
// showing the menu-bar window to its first frame, over 200 history sessions
// and over a profile of 100,000.
#include "DesktopHarness.h"
#include "FakeVoiceSettings.h"
#include "app/DictationOverlayModel.h"
#include "app/DictationOverlayPanel.h"
#include "app/MenubarViewModel.h"
#include "app/UiModule.h"
#include "app/ViewServices.h"
#include "models/ModelManager.h"
#include "platform/fake/FakeAccessibility.h"
#include "platform/fake/FakeLoginItems.h"
#include "platform/fake/FakePaths.h"
#include "platform/fake/FakePasteboard.h"
#include "platform/fake/FakeSettings.h"
#include "platform/linux/X11Compositor.h"
#include "platform/linux/X11Workspaces.h"
#include "profile/VoiceProfileStore.h"
#include "support/CoordinatorRig.h"

#include <QElapsedTimer>
#include <QQmlEngine>
#include <QQuickView>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;

double percentile(QList<double> values, double p)
{
    if (values.isEmpty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[std::min<qsizetype>(values.size() - 1, qsizetype(p * (values.size() - 1) + 0.5))];
}

void report(const char *what, double ms, double goal)
{
    std::printf("%-52s %7.2f ms, %.2fx the %.0f ms goal\n", what, ms, ms / goal, goal);
}

// Milliseconds from show to the window's first swapped frame.
double timeToFirstFrame(QQuickWindow *window, const std::function<void()> &show)
{
    bool swapped = false;
    const auto connection = QObject::connect(window, &QQuickWindow::frameSwapped, window, [&] { swapped = true; },
                                             Qt::DirectConnection);
    QElapsedTimer timer;
    timer.start();
    show();
    DesktopHarness::waitUntil([&] { return swapped; }, std::chrono::seconds(5));
    const double ms = timer.nsecsElapsed() / 1e6;
    QObject::disconnect(connection);
    return swapped ? ms : -1;
}

// Render time of every frame (start of the frame to its end) while the
// overlay animates for the given time.
QList<double> frameTimes(QQuickWindow *window, DictationOverlayModel &model, DictationOverlayModel::Input input,
                         std::chrono::milliseconds duration)
{
    std::mutex mutex;
    QList<double> times;
    Clock::time_point begun;
    const auto begin = QObject::connect(window, &QQuickWindow::beforeFrameBegin, window,
                                        [&] { begun = Clock::now(); }, Qt::DirectConnection);
    const auto end = QObject::connect(window, &QQuickWindow::afterFrameEnd, window, [&] {
        const std::scoped_lock lock(mutex);
        times << std::chrono::duration<double, std::milli>(Clock::now() - begun).count();
    }, Qt::DirectConnection);
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < duration.count()) {
        // the coordinator's level arrives with every captured buffer (~15 ms)
        input.audioLevel = float(0.5 + 0.5 * std::sin(timer.elapsed() / 90.0));
        input.refiningElapsedSeconds = timer.elapsed() / 1000.0;
        model.setInput(input);
        DesktopHarness::waitUntil([] { return false; }, std::chrono::milliseconds(15));
    }
    QObject::disconnect(begin);
    QObject::disconnect(end);
    const std::scoped_lock lock(mutex);
    return times;
}

// Sessions written straight into the file in one transaction, 25 a day up
// to now, each of 40 words: the store would take an fsync per batch.
void fillSessions(const QString &path, int sessions)
{
    { VoiceProfileStore schema(path); }
    sqlite3 *db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    sqlite3_exec(db, "PRAGMA journal_mode=DELETE; PRAGMA synchronous=OFF; BEGIN;", nullptr, nullptr, nullptr);
    sqlite3_stmt *insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO session_log (timestamp, duration_seconds, word_count, language, "
                           "raw_transcript, rewritten_text) VALUES (?, 16.0, 40, 'en', ?, ?);", -1, &insert, nullptr);
    const double now = QDateTime::currentMSecsSinceEpoch() / 1000.0;
    QStringList words;
    for (int i = 0; i < 40; ++i)
        words << QStringLiteral("word%1").arg(i * 7 % 23);
    const QByteArray text = words.join(QLatin1Char(' ')).toUtf8();
    for (int s = 0; s < sessions; ++s) {
        sqlite3_reset(insert);
        sqlite3_bind_double(insert, 1, now - double(sessions - s) * (86400 / 25));
        sqlite3_bind_text(insert, 2, text.constData(), int(text.size()), SQLITE_STATIC);
        sqlite3_bind_text(insert, 3, text.constData(), int(text.size()), SQLITE_STATIC);
        sqlite3_step(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

struct WindowOpenings {
    QList<double> first; // a new window each time
    QList<double> again; // the same window hidden and shown
};

// Opening reads the statistics and the history, then draws.
WindowOpenings windowOpenings(QQmlEngine &engine, const QString &profile)
{
    VoiceProfileStore store(profile);
    RiggedCoordinator coordinator;
    FakePaths paths; // no models: the window only lists them
    ModelManager models(paths);
    FakePasteboard pasteboard;
    FakeSettings settings;
    MenubarViewModel viewModel({coordinator, models, store, pasteboard, settings, {}});
    FakeLoginItems loginItems;
    FakeAccessibility accessibility;
    FakeVoiceSettings voice;
    ViewServices services({store, models, {}, loginItems, accessibility, voice});
    WindowOpenings openings;
    for (int i = 0; i < 5; ++i) {
        QQuickView view(&engine, nullptr);
        view.setInitialProperties({{QStringLiteral("viewModel"), QVariant::fromValue(&viewModel)},
                                   {QStringLiteral("services"), QVariant::fromValue(&services)}});
        view.setSource(QUrl(QStringLiteral("qrc:/qt/qml/Tavrune/Ui/MenubarWindow.qml")));
        UiModule::announceAppearances(view);
        const double ms = timeToFirstFrame(&view, [&] { view.show(); });
        if (ms < 0)
            return {};
        openings.first << ms;
        for (int j = 0; i == 0 && j < 10; ++j) {
            view.hide();
            const double again = timeToFirstFrame(&view, [&] { view.show(); });
            if (again < 0)
                return {};
            openings.again << again;
        }
    }
    return openings;
}

int run()
{
    QQmlEngine engine;
    UiModule::install(engine);

    // Overlay: first frame after show(), for a fresh panel (the first
    // dictation) and for the one panel shown again (every later one).
    QList<double> firstShows;
    for (int i = 0; i < 5; ++i) {
        DictationOverlayModel model;
        DictationOverlayPanel panel(engine, model, x11CompositorRunning, x11ShowOnEveryWorkspace);
        const double ms = timeToFirstFrame(panel.window(), [&] { panel.show(); });
        if (ms < 0)
            return 1;
        firstShows << ms;
    }
    DictationOverlayModel model;
    DictationOverlayPanel panel(engine, model, x11CompositorRunning, x11ShowOnEveryWorkspace);
    QList<double> laterShows;
    for (int i = 0; i < 10; ++i) {
        const double ms = timeToFirstFrame(panel.window(), [&] { panel.show(); });
        if (ms < 0)
            return 1;
        laterShows << ms;
        panel.hide();
        DesktopHarness::waitUntil([&] { return !panel.isVisible(); });
    }
    panel.show();
    DesktopHarness::waitUntil([] { return false; }, std::chrono::milliseconds(300));
    DictationOverlayModel::Input listening;
    listening.isDictating = true;
    listening.liveTranscript = QStringLiteral("the level meter and the mascot follow the voice");
    DictationOverlayModel::Input refining;
    refining.liveTranscript = listening.liveTranscript;
    refining.isRefining = true;
    refining.largeModelEnabled = true;
    refining.isLargeModelProcessing = true;
    const QList<double> listeningFrames = frameTimes(panel.window(), model, listening, std::chrono::seconds(3));
    const QList<double> refiningFrames = frameTimes(panel.window(), model, refining, std::chrono::seconds(3));
    panel.hide();

    // Menu-bar window over 200 sessions, then over 100,000.
    QTemporaryDir directory;
    const QString small = directory.filePath(QStringLiteral("small.sqlite"));
    {
        VoiceProfileStore store(small);
        for (int i = 0; i < 200; ++i) {
            store.logSession(12.5 + i, 30, QStringLiteral("en"),
                             QStringLiteral("raw words of dictation number %1 with a few more words to wrap").arg(i),
                             QStringLiteral("Dictation number %1, with a few more words so the row wraps.").arg(i));
        }
    }
    const QString large = directory.filePath(QStringLiteral("large.sqlite"));
    fillSessions(large, 100'000);
    const WindowOpenings smallOpenings = windowOpenings(engine, small);
    const WindowOpenings largeOpenings = windowOpenings(engine, large);
    if (smallOpenings.first.isEmpty() || largeOpenings.first.isEmpty())
        return 1;

    std::printf("overlay frames: %lld listening, %lld refining\n", qlonglong(listeningFrames.size()),
                qlonglong(refiningFrames.size()));
    report("overlay frame time p95, listening (level, mascot)", percentile(listeningFrames, 0.95), 8);
    report("overlay frame time p95, refining (spinner, timer)", percentile(refiningFrames, 0.95), 8);
    report("overlay show() to first frame, shown again (median)", percentile(laterShows, 0.5), 50);
    report("overlay show() to first frame, shown again (worst)", percentile(laterShows, 1), 50);
    report("overlay show() to first frame, first show (median)", percentile(firstShows, 0.5), 50);
    report("menu-bar window, 200 sessions, reopened (median)", percentile(smallOpenings.again, 0.5), 100);
    report("menu-bar window, 200 sessions, first open (median)", percentile(smallOpenings.first, 0.5), 100);
    report("menu-bar window, 100,000 sessions, reopened (median)", percentile(largeOpenings.again, 0.5), 100);
    report("menu-bar window, 100,000 sessions, first open (median)", percentile(largeOpenings.first, 0.5), 100);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    DesktopHarness desktop;
    if (!desktop.start(DesktopHarness::Options{.accessibility = false, .audio = false})) {
        std::fprintf(stderr, "desktop did not start: %s\n", qPrintable(desktop.errorString()));
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    int status = 0;
    {
        QGuiApplication app(argc, argv);
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
        status = run();
    }
    desktop.stop();
    return status;
}

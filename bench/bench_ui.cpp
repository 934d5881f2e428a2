// The interface on a throwaway X desktop (Xvfb + openbox): the overlay's
// frame time while its level meter, mascot and a running stage animate, the
// time from the overlay's show() to its first frame, and the time from
// showing the menu-bar window with 200 history sessions to its first frame.
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
#include "platform/fake/FakePasteboard.h"
#include "platform/fake/FakePaths.h"
#include "platform/fake/FakeSettings.h"
#include "platform/linux/X11Compositor.h"
#include "profile/VoiceProfileStore.h"
#include "support/CoordinatorRig.h"

#include <QElapsedTimer>
#include <QQmlEngine>
#include <QQuickView>
#include <QTemporaryDir>

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

int run()
{
    QQmlEngine engine;
    UiModule::install(engine);

    // Overlay: first frame after show(), for a fresh panel (the first
    // dictation) and for the one panel shown again (every later one).
    QList<double> firstShows;
    for (int i = 0; i < 5; ++i) {
        DictationOverlayModel model;
        DictationOverlayPanel panel(engine, model, x11CompositorRunning);
        const double ms = timeToFirstFrame(panel.window(), [&] { panel.show(); });
        if (ms < 0)
            return 1;
        firstShows << ms;
    }
    DictationOverlayModel model;
    DictationOverlayPanel panel(engine, model, x11CompositorRunning);
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

    // Menu-bar window over 200 sessions.
    QTemporaryDir directory;
    VoiceProfileStore store(directory.filePath(QStringLiteral("profile.sqlite")));
    for (int i = 0; i < 200; ++i) {
        store.logSession(12.5 + i, 30, QStringLiteral("en"),
                         QStringLiteral("raw words of dictation number %1 with a few more words to wrap").arg(i),
                         QStringLiteral("Dictation number %1, with a few more words so the row wraps.").arg(i));
    }
    RiggedCoordinator coordinator;
    FakePaths paths;
    ModelManager models(paths);
    FakePasteboard pasteboard;
    FakeSettings settings;
    MenubarViewModel viewModel({coordinator, models, store, pasteboard, settings, {}});
    FakeLoginItems loginItems;
    FakeAccessibility accessibility;
    FakeVoiceSettings voice;
    ViewServices services({store, models, {}, loginItems, accessibility, voice});
    // Opening reloads the statistics and the 200 sessions, then draws.
    QList<double> firstOpens, reopens;
    for (int i = 0; i < 5; ++i) {
        QQuickView view(&engine, nullptr);
        view.setInitialProperties({{QStringLiteral("viewModel"), QVariant::fromValue(&viewModel)},
                                   {QStringLiteral("services"), QVariant::fromValue(&services)}});
        view.setSource(QUrl(QStringLiteral("qrc:/qt/qml/Tavrune/Ui/MenubarWindow.qml")));
        const double ms = timeToFirstFrame(&view, [&] { view.show(); });
        if (ms < 0)
            return 1;
        firstOpens << ms;
        for (int j = 0; i == 0 && j < 10; ++j) {
            view.hide();
            const double again = timeToFirstFrame(&view, [&] { view.show(); });
            if (again < 0)
                return 1;
            reopens << again;
        }
    }

    std::printf("overlay frames: %lld listening, %lld refining\n", qlonglong(listeningFrames.size()),
                qlonglong(refiningFrames.size()));
    report("overlay frame time p95, listening (level, mascot)", percentile(listeningFrames, 0.95), 8);
    report("overlay frame time p95, refining (spinner, timer)", percentile(refiningFrames, 0.95), 8);
    report("overlay show() to first frame, shown again (median)", percentile(laterShows, 0.5), 50);
    report("overlay show() to first frame, shown again (worst)", percentile(laterShows, 1), 50);
    report("overlay show() to first frame, first show (median)", percentile(firstShows, 0.5), 50);
    report("menu-bar window, 200 sessions, reopened (median)", percentile(reopens, 0.5), 100);
    report("menu-bar window, 200 sessions, first open (median)", percentile(firstOpens, 0.5), 100);
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

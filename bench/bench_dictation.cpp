// Dictation latency with the application's own services on a throwaway
// desktop, driven through Alt+Space like a user:
//  - key press to the first captured buffer, per recognition mode: from the
//    hold-start callback (the press as the application sees it) to the
//    microphone's first buffer. Goal: under 100 ms in every mode.
//  - key release to the text in the target window in the parallel mode, next
//    to the sum of the fixed waits on that path (the live recogniser's end
//    wait and the re-activation pause). Goal: within 100 ms of that sum.
// Medians of 10 runs each.
// The test microphone is a null sink's monitor, which renders in blocks of
// about two seconds while nothing plays into it at low latency; a faint noise
// floor played throughout stands in for a live microphone's steady stream.
#include "DesktopHarness.h"

#include "app/AppContext.h"
#include "models/ModelManager.h"
#include "pipeline/CloudApiSettings.h"
#include "pipeline/DictationSessionCoordinator.h"
#include "pipeline/GlobalHotkeyService.h"
#include "platform/AudioInput.h"
#include "platform/Platform.h"
#include "platform/Settings.h"
#include "platform/linux/LinuxPlatform.h"
#include "support/LoopbackHttpServer.h"
#include "support/WhisperModelWriter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>

using namespace std::chrono_literals;

namespace {
constexpr int kRuns = 10;
constexpr double kGoalMs = 100;
// the recogniser's wait after the microphone stops, and the re-activation pause
constexpr double kPrescribedReleaseWaitsMs = 800 + 150;

std::atomic<qint64> g_firstBufferNs{0};

qint64 nowNs()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    return clock.nsecsElapsed();
}

// The real microphone, noting when its first buffer after each start arrives.
class TimingAudioInput : public AudioInput {
public:
    explicit TimingAudioInput(AudioInput &inner) : m_inner(inner) {}
    QFuture<Access> requestPermission() override { return m_inner.requestPermission(); }
    Format inputFormat() override { return m_inner.inputFormat(); }
    void installTap(int bufferFrames, Tap tap) override
    {
        m_inner.installTap(bufferFrames, [tap = std::move(tap)](const Buffer &buffer) {
            qint64 unset = 0;
            g_firstBufferNs.compare_exchange_strong(unset, nowNs());
            tap(buffer);
        });
    }
    void removeTap() override { m_inner.removeTap(); }
    void start() override { m_inner.start(); }
    void stop() override { m_inner.stop(); }

private:
    AudioInput &m_inner;
};

class TimingPlatform : public Platform {
public:
    explicit TimingPlatform(std::unique_ptr<Platform> inner)
        : m_inner(std::move(inner))
        , m_audioInput(m_inner->audioInput())
    {
    }
    Paths &paths() override { return m_inner->paths(); }
    Settings &settings() override { return m_inner->settings(); }
    SpeechRecognition &speechRecognition() override { return m_inner->speechRecognition(); }
    LexicalTagger &lexicalTagger() override { return m_inner->lexicalTagger(); }
    KeySynthesizer &keySynthesizer() override { return m_inner->keySynthesizer(); }
    Pasteboard &pasteboard() override { return m_inner->pasteboard(); }
    Workspace &workspace() override { return m_inner->workspace(); }
    Accessibility &accessibility() override { return m_inner->accessibility(); }
    AudioInput &audioInput() override { return m_audioInput; }
    KeyEventSource &keyEventSource() override { return m_inner->keyEventSource(); }
    LoginItems &loginItems() override { return m_inner->loginItems(); }
    AudioOutput &audioOutput() override { return m_inner->audioOutput(); }
    SystemSpeechSynthesizer &systemSpeechSynthesizer() override { return m_inner->systemSpeechSynthesizer(); }
    NeuralVoiceEngine &neuralVoiceEngine() override { return m_inner->neuralVoiceEngine(); }

private:
    std::unique_ptr<Platform> m_inner;
    TimingAudioInput m_audioInput;
};

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.size() % 2 ? values[values.size() / 2]
                              : (values[values.size() / 2 - 1] + values[values.size() / 2]) / 2;
}

QString contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

class Bench {
public:
    Bench(DesktopHarness &desktop, AppContext &context)
        : m_desktop(desktop)
        , m_coordinator(context.coordinator())
    {
        m_hotkeys.onHoldStart = [this] {
            m_pressNs = nowNs();
            m_coordinator.setActiveDictationMode(DictationMode::hold);
            m_coordinator.startDictation();
        };
        m_hotkeys.onHoldRelease = [this] {
            m_releaseNs = nowNs();
            m_coordinator.stopDictation();
        };
        m_hotkeys.start();
    }
    ~Bench() { m_hotkeys.stop(); }

    // Milliseconds from the press to the first buffer; negative on failure.
    double pressToCapture(ASRModelPreference mode)
    {
        m_coordinator.selectedASRModel = mode;
        g_firstBufferNs = 0;
        if (!m_desktop.xdotool({QStringLiteral("keydown"), QStringLiteral("alt+space")})
            || !DesktopHarness::waitUntil([] { return g_firstBufferNs.load() != 0; }, 3s)) {
            release();
            return -1;
        }
        const double ms = double(g_firstBufferNs.load() - m_pressNs) / 1e6;
        DesktopHarness::waitUntil([] { return false; }, 300ms); // past the shortest hold
        return release() ? ms : -1;
    }

    // Milliseconds from the release to the text in the field; negative on failure.
    double releaseToText(TargetApp &target, const QString &speech)
    {
        m_coordinator.selectedASRModel = ASRModelPreference::parallelFast;
        if (!target.setText(TargetApp::textArea, QString()) || !target.focus(TargetApp::textArea)
            || !m_desktop.xdotool({QStringLiteral("keydown"), QStringLiteral("alt+space")})
            || !DesktopHarness::waitUntil([this] { return m_coordinator.isDictating(); }, 3s)
            || !m_desktop.playIntoMicrophone(speech)) {
            release();
            return -1;
        }
        DesktopHarness::waitUntil([] { return false; }, 200ms);
        if (!m_desktop.xdotool({QStringLiteral("keyup"), QStringLiteral("space"), QStringLiteral("alt")}))
            return -1;
        const QString file = target.textFile(TargetApp::textArea);
        // poll closely so the measurement is not the polling interval
        QElapsedTimer limit;
        limit.start();
        while (contentOf(file).isEmpty()) {
            if (limit.elapsed() > 5000)
                return -1;
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            QThread::usleep(200);
        }
        const double ms = double(nowNs() - m_releaseNs) / 1e6;
        return settle() ? ms : -1;
    }

private:
    bool release()
    {
        m_desktop.xdotool({QStringLiteral("keyup"), QStringLiteral("space"), QStringLiteral("alt")});
        return settle();
    }
    // The dictation and whatever it refines have ended. Longer than the 30 s
    // a stop gives Whisper's final decode, which random weights can use up.
    bool settle()
    {
        return DesktopHarness::waitUntil(
            [this] {
                return !m_coordinator.isStarting() && !m_coordinator.isDictating() && !m_coordinator.isProcessing()
                    && !m_coordinator.isRefining() && !m_coordinator.isPolishing();
            },
            40s);
    }

    DesktopHarness &m_desktop;
    DictationSessionCoordinator &m_coordinator;
    GlobalHotkeyService m_hotkeys;
    qint64 m_pressNs = 0;
    qint64 m_releaseNs = 0;
};

bool report(const char *what, const QList<double> &times, double goalMs, double offsetMs = 0)
{
    if (times.size() != kRuns) {
        std::fprintf(stderr, "%s: a run failed\n", what);
        return false;
    }
    const double m = median(times);
    std::printf("%-44s median %8.2f ms (min %.2f, max %.2f)", what, m, *std::min_element(times.begin(), times.end()),
                *std::max_element(times.begin(), times.end()));
    if (offsetMs > 0)
        // the recogniser's wait ends early once it has completed, so the
        // path may come in under the sum
        std::printf("; prescribed waits sum to %.0f ms, %+.2f ms against them, %.2fx the %.0f ms allowance\n",
                    offsetMs, m - offsetMs, std::max(0.0, m - offsetMs) / goalMs, goalMs);
    else
        std::printf(", %.2fx the %.0f ms goal\n", m / goalMs, goalMs);
    return true;
}

bool makeSpeech(const QString &dir, QString *speech)
{
    *speech = dir + QStringLiteral("/hello.wav");
    return runProgram(QStringLiteral("espeak-ng"),
                      {QStringLiteral("-v"), QStringLiteral("en-us+m3"), QStringLiteral("-w"),
                       dir + QStringLiteral("/raw.wav"), QStringLiteral("hello world")},
                      20s)
            == 0
        && runProgram(QStringLiteral("sox"),
                      {QStringLiteral("-R"), dir + QStringLiteral("/raw.wav"), QStringLiteral("-r"), QStringLiteral("48000"),
                       QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("-b"), QStringLiteral("16"), *speech},
                      20s)
            == 0;
}

int run(DesktopHarness &desktop)
{
    // a tiny generated model stands in for Whisper Base below
    AppContext::Options options;
    options.whisperModels = WhisperModelShape::tinyFamily();
    AppContext context(Platform::instance(), options);
    // the cloud service answers from loopback
    LoopbackHttpServer cloud;
    cloud.setHandler([](const LoopbackHttpServer::Request &) {
        return LoopbackHttpServer::Response::withBody(R"({"success":true,"text":"hello"})", 200, "application/json");
    });
    Settings &settings = Platform::instance().settings();
    settings.setValue(CloudApiSettings::baseUrlKey, cloud.url().toString());
    settings.setValue(CloudApiSettings::tokenKey, QStringLiteral("bench-token"));

    TargetApp *target = desktop.startTarget(true);
    QString speech;
    const QString noise = desktop.runDir() + QStringLiteral("/noise.wav");
    const bool noisePlays = runProgram(QStringLiteral("sox"),
                                       {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("8000"),
                                        QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("-b"),
                                        QStringLiteral("16"), noise, QStringLiteral("synth"), QStringLiteral("900"),
                                        QStringLiteral("whitenoise"), QStringLiteral("vol"), QStringLiteral("0.01")},
                                       60s)
            == 0
        && desktop.playIntoMicrophone(noise, false);
    if (!target || !target->focus(TargetApp::textArea) || !makeSpeech(desktop.runDir(), &speech) || !noisePlays) {
        std::fprintf(stderr, "set-up failed: %s\n", qPrintable(desktop.errorString()));
        return 1;
    }

    Bench bench(desktop, context);
    const auto measure = [](const std::function<double()> &once) {
        QList<double> times;
        for (int i = 0; i < kRuns; ++i) {
            const double ms = once();
            if (ms >= 0)
                times << ms;
        }
        return times;
    };
    // No Whisper model yet: the parallel refinement ends at once instead of
    // decoding between the runs.
    bool ok = report("key press to capture, parallelFast",
                     measure([&] { return bench.pressToCapture(ASRModelPreference::parallelFast); }), kGoalMs);
    ok = report("key press to capture, cloudflareWhisper",
                measure([&] { return bench.pressToCapture(ASRModelPreference::cloudflareWhisper); }), kGoalMs)
        && ok;
    ok = report("key release to text, parallelFast", measure([&] { return bench.releaseToText(*target, speech); }),
                kGoalMs, kPrescribedReleaseWaitsMs)
        && ok;

    // a generated model file stands in for Whisper Base
    const QString models = context.modelManager().modelsDirectory();
    QDir().mkpath(models);
    const QString error =
        WhisperModelWriter::writeModel(models + QStringLiteral("/ggml-base.bin"), WhisperModelShape::tiny(), 7);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "model: %s\n", qPrintable(error));
        return 1;
    }
    context.modelManager().refreshInstalledModels();
    ok = report("key press to capture, whisperBase",
                measure([&] { return bench.pressToCapture(ASRModelPreference::whisperBase); }), kGoalMs)
        && ok;
    return ok ? 0 : 1;
}
} // namespace

int main(int argc, char **argv)
{
    DesktopHarness desktop;
    if (!desktop.start(DesktopHarness::Options{})) {
        std::fprintf(stderr, "desktop did not start: %s\n", qPrintable(desktop.errorString()));
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    int status = 0;
    {
        QGuiApplication app(argc, argv);
        if (qEnvironmentVariableIsEmpty("TAVRUNE_BENCH_LOG"))
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
        Platform::install(std::make_unique<TimingPlatform>(createLinuxPlatform()));
        status = run(desktop);
        Platform::install(nullptr);
    }
    desktop.stop();
    return status;
}

#include "DesktopHarness.h"

#include "models/ModelManager.h"
#include "pipeline/GlobalHotkeyService.h"
#include "platform/Platform.h"
#include "platform/linux/LinuxPlatform.h"
#include "speech/SelectionReader.h"
#include "speech/TextToSpeechService.h"
#include "support/MonotonicClock.h"

#include <QFile>
#include <QtEndian>
#include <QtTest>

#include <cmath>

using namespace std::chrono_literals;

namespace {
const QString kSelection = QStringLiteral(
    "The river rose overnight. Boats were tied to the old pier. Nobody expected the rain to stop. "
    "By noon the market was empty. The baker closed early.");
const QString kSummary =
    QStringLiteral("The river rose overnight. Boats were tied to the old pier. Nobody expected the rain to stop.");
const QString kEarlierCopy = QStringLiteral(
    "Meeting notes: the quarterly budget review moves to Thursday afternoon, the design team presents the new "
    "onboarding flow, and everyone should bring their travel receipts before the end of the month.");
constexpr int kRate = 16000;
} // namespace

// Select text in another application, press Ctrl+Alt+S, and hear the
// summary on the desktop's loudspeakers (the harness's null sink).
class tst_ReadAloudOnDesktop : public DesktopTest {
    Q_OBJECT
public:
    using DesktopTest::DesktopTest;

private slots:
    void initTestCase();
    void cleanupTestCase();
    void selectionIsSummarizedAndSpoken();
    void nothingSelectedLeavesTheClipboardAlone();

private:
    // Seconds of the recording louder than a whisper, in 20 ms windows.
    double speakAndMeasure();
    QByteArray clipboard(const QString &format);

    TargetApp *m_target = nullptr;
    std::unique_ptr<SelectionReader> m_reader;
    std::unique_ptr<TextToSpeechService> m_tts;
    std::unique_ptr<GlobalHotkeyService> m_hotkeys;
};

void tst_ReadAloudOnDesktop::initTestCase()
{
    for (const char *tool : {"xdotool", "parec", "xclip"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed (scripts/bootstrap installs it)").arg(QLatin1String(tool))));
    }
    Platform::install(createLinuxPlatform());
    Platform &platform = Platform::instance();
    m_target = m_desktop.startTarget(true);
    QVERIFY2(m_target, qPrintable(m_desktop.errorString()));
    m_reader = std::make_unique<SelectionReader>(platform.workspace(), platform.accessibility(), platform.pasteboard(),
                                                 platform.keySynthesizer(), MonotonicClock::system());
    m_tts = std::make_unique<TextToSpeechService>(TextToSpeechService::Collaborators{
        platform.settings(), platform.audioOutput(), platform.systemSpeechSynthesizer(), platform.neuralVoiceEngine(),
        *m_reader, ModelManager().modelsDirectory()});
    // what the application's hotkey wiring will do
    m_hotkeys = std::make_unique<GlobalHotkeyService>();
    m_hotkeys->onSummarizeAndSpeak = [this] { m_tts->summarizeSelectionAndSpeak(); };
    m_hotkeys->start();
}

void tst_ReadAloudOnDesktop::cleanupTestCase()
{
    m_hotkeys.reset();
    m_tts.reset();
}

QByteArray tst_ReadAloudOnDesktop::clipboard(const QString &format)
{
    QByteArray output;
    const int rc = runProgram(QStringLiteral("xclip"),
                              {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-o"),
                               QStringLiteral("-t"), format},
                              5s, &output);
    return rc == 0 ? output : QByteArray("<xclip failed>");
}

double tst_ReadAloudOnDesktop::speakAndMeasure()
{
    const QString recording = m_desktop.runDir() + QStringLiteral("/speakers.raw");
    QFile::remove(recording); // the recorder appends
    ChildProcess recorder;
    if (!recorder.start(QStringLiteral("parec"),
                        {QStringLiteral("-d"), QStringLiteral("tavrune_speakers.monitor"),
                         QStringLiteral("--format=float32le"), QStringLiteral("--rate=%1").arg(kRate),
                         QStringLiteral("--channels=1"), QStringLiteral("--raw")},
                        {recording, false}))
        return -1;
    QSignalSpy speaking(m_tts.get(), &TextToSpeechService::isSpeakingChanged);
    if (!m_desktop.xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+s")}))
        return -1;
    const bool spoke = DesktopHarness::waitUntil([&] { return speaking.size() >= 2 && !m_tts->isSpeaking(); }, 30s);
    DesktopHarness::waitUntil([] { return false; }, 300ms);
    recorder.stop();
    if (!spoke)
        return -1;

    QFile file(recording);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray bytes = file.readAll();
    const qsizetype window = kRate / 50;
    const qsizetype count = bytes.size() / qsizetype(sizeof(float));
    int loud = 0;
    for (qsizetype start = 0; start + window <= count; start += window) {
        double sum = 0;
        for (qsizetype i = start; i < start + window; ++i) {
            const float sample = qFromLittleEndian<float>(bytes.constData() + i * qsizetype(sizeof(float)));
            sum += double(sample) * sample;
        }
        loud += std::sqrt(sum / double(window)) > 0.01 ? 1 : 0;
    }
    return loud / 50.0;
}

void tst_ReadAloudOnDesktop::selectionIsSummarizedAndSpoken()
{
    QVERIFY(m_target->setText(TargetApp::textArea, kSelection));
    QVERIFY(m_target->focus(TargetApp::textArea));
    QVERIFY(m_target->select(TargetApp::textArea, 0, int(kSelection.size())));
    const double seconds = speakAndMeasure();
    QCOMPARE(m_tts->lastSummary(), kSummary);
    // three sentences take several seconds; silence or a click would not
    QVERIFY2(seconds > 2.5, qPrintable(QString::number(seconds)));
}

void tst_ReadAloudOnDesktop::nothingSelectedLeavesTheClipboardAlone()
{
    QVERIFY(m_target->copyToClipboard(kEarlierCopy, QStringLiteral("<b>notes</b>")));
    QVERIFY(m_target->setText(TargetApp::lineEdit, QStringLiteral("no selection here")));
    QVERIFY(m_target->focus(TargetApp::lineEdit));
    const double seconds = speakAndMeasure();
    // "No text selected." is short; the earlier copy would take many seconds
    QVERIFY2(seconds > 0.4 && seconds < 2.5, qPrintable(QString::number(seconds)));
    QCOMPARE(m_tts->lastSummary(), kSummary);
    QCOMPARE(clipboard(QStringLiteral("UTF8_STRING")), kEarlierCopy.toUtf8());
    QCOMPARE(clipboard(QStringLiteral("text/html")), QByteArray("<b>notes</b>"));
}

TAVRUNE_E2E_MAIN(tst_ReadAloudOnDesktop, DesktopHarness::Options{})
#include "tst_ReadAloudOnDesktop.moc"

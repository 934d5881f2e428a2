#include "DesktopHarness.h"

#include "models/ModelManager.h"
#include "pipeline/GlobalHotkeyService.h"
#include "platform/Platform.h"
#include "platform/linux/LinuxPlatform.h"
#include "speech/SelectionReader.h"
#include "speech/TextToSpeechService.h"
#include "support/MonotonicClock.h"

#include <QtTest>


using namespace std::chrono_literals;

namespace {
const QString kEarlierCopy = QStringLiteral(
    "Meeting notes: the quarterly budget review moves to Thursday afternoon, the design team presents the new "
    "onboarding flow, and everyone should bring their travel receipts before the end of the month.");
} // namespace

// Ctrl+Alt+S with nothing selected in another application: the copy
// fallback finds nothing, says so aloud, and leaves the clipboard alone.
class tst_ReadAloudOnDesktop : public DesktopTest {
    Q_OBJECT
public:
    using DesktopTest::DesktopTest;

private slots:
    void initTestCase();
    void cleanupTestCase();
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
    ChildProcess recorder;
    if (!m_desktop.recordSpeakers(recorder, recording))
        return -1;
    QSignalSpy speaking(m_tts.get(), &TextToSpeechService::isSpeakingChanged);
    if (!m_desktop.xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+s")}))
        return -1;
    const bool spoke = DesktopHarness::waitUntil([&] { return speaking.size() >= 2 && !m_tts->isSpeaking(); }, 30s);
    DesktopHarness::waitUntil([] { return false; }, 300ms);
    recorder.stop();
    return spoke ? DesktopHarness::loudSeconds(recording) : -1;
}

void tst_ReadAloudOnDesktop::nothingSelectedLeavesTheClipboardAlone()
{
    QVERIFY(m_target->copyToClipboard(kEarlierCopy, QStringLiteral("<b>notes</b>")));
    QVERIFY(m_target->setText(TargetApp::lineEdit, QStringLiteral("no selection here")));
    QVERIFY(m_target->focus(TargetApp::lineEdit));
    const double seconds = speakAndMeasure();
    // "No text selected." is short; the earlier copy would take many seconds
    QVERIFY2(seconds > 0.4 && seconds < 2.5, qPrintable(QString::number(seconds)));
    QVERIFY(m_tts->lastSummary().isEmpty());
    QCOMPARE(clipboard(QStringLiteral("UTF8_STRING")), kEarlierCopy.toUtf8());
    QCOMPARE(clipboard(QStringLiteral("text/html")), QByteArray("<b>notes</b>"));
}

TAVRUNE_E2E_MAIN(tst_ReadAloudOnDesktop, DesktopHarness::Options{})
#include "tst_ReadAloudOnDesktop.moc"

#include "DesktopHarness.h"

#include "app/AppContext.h"
#include "pipeline/DictationSessionCoordinator.h"
#include "pipeline/GlobalHotkeyService.h"
#include "platform/Pasteboard.h"
#include "platform/linux/LinuxPlatform.h"
#include "profile/VoiceProfileStore.h"

#include <QtTest>

using namespace std::chrono_literals;

namespace {
constexpr char kSpoken[] = "hello world, the weather is nice today";

// A spoken word of four letters or more was heard; the live recogniser is
// not exact on synthesized speech.
bool sharesAWord(const QString &heard)
{
    const QStringList spoken = QString::fromLatin1(kSpoken).remove(u',').split(u' ');
    const QStringList words = heard.toLower().remove(QRegularExpression(QStringLiteral("[^a-z ]"))).split(u' ');
    return std::any_of(words.cbegin(), words.cend(), [&](const QString &w) { return w.size() >= 4 && spoken.contains(w); });
}
} // namespace

// A whole dictation on a real desktop: Alt+Space held, speech into the
// microphone, release; the text lands in the window that had the focus.
class tst_DictationOnDesktop : public DesktopTest {
    Q_OBJECT
public:
    using DesktopTest::DesktopTest;

private slots:
    void initTestCase();
    void cleanupTestCase();
    void holdToTalkTypesThroughAccessibility();
    void targetWithoutAccessibilityGetsAPasteAndTheClipboardBack();

private:
    // Holds Alt+Space over the speech and releases it; true once the
    // dictation has ended with "Done".
    bool holdAndSpeak();

    QString m_speech;
    std::unique_ptr<AppContext> m_context;
    std::unique_ptr<GlobalHotkeyService> m_hotkeys;
};

void tst_DictationOnDesktop::initTestCase()
{
    for (const char *tool : {"espeak-ng", "sox", "xdotool"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed (scripts/bootstrap installs it)").arg(QLatin1String(tool))));
    }
    const QString dir = m_desktop.runDir() + QLatin1Char('/');
    m_speech = dir + QStringLiteral("speech.wav");
    QCOMPARE(runProgram(QStringLiteral("espeak-ng"),
                        {QStringLiteral("-v"), QStringLiteral("en-us+m3"), QStringLiteral("-s"), QStringLiteral("160"),
                         QStringLiteral("-w"), dir + QStringLiteral("raw.wav"), QString::fromLatin1(kSpoken)},
                        20s),
             0);
    QCOMPARE(runProgram(QStringLiteral("sox"),
                        {QStringLiteral("-R"), dir + QStringLiteral("raw.wav"), QStringLiteral("-r"), QStringLiteral("48000"),
                         QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("-b"), QStringLiteral("16"), m_speech,
                         QStringLiteral("pad"), QStringLiteral("0.3"), QStringLiteral("0.5")},
                        20s),
             0);

    Platform::install(createLinuxPlatform());
    m_context = std::make_unique<AppContext>(Platform::instance());
    DictationSessionCoordinator &coordinator = m_context->coordinator();
    m_hotkeys = std::make_unique<GlobalHotkeyService>();
    m_hotkeys->onHoldStart = [&coordinator] {
        coordinator.setActiveDictationMode(DictationMode::hold);
        coordinator.startDictation();
    };
    m_hotkeys->onHoldRelease = [&coordinator] { coordinator.stopDictation(); };
    m_hotkeys->start();
}

void tst_DictationOnDesktop::cleanupTestCase()
{
    if (m_hotkeys)
        m_hotkeys->stop();
    m_hotkeys.reset();
    m_context.reset();
}

bool tst_DictationOnDesktop::holdAndSpeak()
{
    DictationSessionCoordinator &coordinator = m_context->coordinator();
    if (!m_desktop.xdotool({QStringLiteral("keydown"), QStringLiteral("alt+space")}))
        return false;
    if (!DesktopHarness::waitUntil([&] { return coordinator.isDictating(); })) {
        qWarning() << "never started:" << coordinator.statusText();
        return false;
    }
    const bool played = m_desktop.playIntoMicrophone(m_speech);
    DesktopHarness::waitUntil([] { return false; }, 300ms); // the tail passes through the sink
    m_desktop.xdotool({QStringLiteral("keyup"), QStringLiteral("space"), QStringLiteral("alt")});
    // No Whisper model is installed in this home: the refinement has
    // nothing to add and the dictation must still finish promptly.
    const bool done = DesktopHarness::waitUntil(
        [&] { return !coordinator.isDictating() && coordinator.statusText() == QLatin1String("Done"); }, 10s);
    if (!done)
        qWarning() << "status:" << coordinator.statusText();
    return played && done;
}

void tst_DictationOnDesktop::holdToTalkTypesThroughAccessibility()
{
    TargetApp *target = m_desktop.startTarget(true);
    QVERIFY2(target, qPrintable(m_desktop.errorString()));
    QVERIFY(target->focus(TargetApp::textArea));
    QVERIFY(holdAndSpeak());

    QVERIFY(target->waitForText(TargetApp::textArea, m_context->coordinator().liveTranscript()));
    QVERIFY2(sharesAWord(target->text(TargetApp::textArea)), qPrintable(target->text(TargetApp::textArea)));
    // the punctuation pass capitalised the sentence
    QVERIFY2(target->text(TargetApp::textArea).at(0).isUpper(), qPrintable(target->text(TargetApp::textArea)));

    const QList<VoiceProfileStore::RecentSession> sessions = VoiceProfileStore::shared().recentSessions(10);
    QCOMPARE(sessions.size(), 1);
    QVERIFY(sessions.first().duration > 1.0);
    QVERIFY(QFileInfo(VoiceProfileStore::defaultDatabasePath()).filePath().startsWith(m_desktop.runDir()));
}

void tst_DictationOnDesktop::targetWithoutAccessibilityGetsAPasteAndTheClipboardBack()
{
    TargetApp *target = m_desktop.startTarget(false);
    QVERIFY2(target, qPrintable(m_desktop.errorString()));
    Pasteboard &pasteboard = Platform::instance().pasteboard();
    QVERIFY(target->copyToClipboard(QStringLiteral("kept safe"), QStringLiteral("<b>kept</b> safe")));
    QTRY_COMPARE(pasteboard.string(), QStringLiteral("kept safe"));
    QVERIFY(target->focus(TargetApp::lineEdit));
    QVERIFY(holdAndSpeak());

    const QString typed = m_context->coordinator().liveTranscript();
    QVERIFY(target->waitForText(TargetApp::lineEdit, typed));
    QVERIFY2(sharesAWord(typed), qPrintable(typed));
    QTRY_COMPARE_WITH_TIMEOUT(pasteboard.string(), QStringLiteral("kept safe"), 3000);
}

TAVRUNE_E2E_MAIN(tst_DictationOnDesktop, DesktopHarness::Options{})
#include "tst_DictationOnDesktop.moc"

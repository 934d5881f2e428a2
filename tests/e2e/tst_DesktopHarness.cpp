#include "DesktopHarness.h"

#include <QtTest>

// The harness itself: if these fail, every other end-to-end suite would.
class tst_DesktopHarness : public QObject {
    Q_OBJECT
public:
    explicit tst_DesktopHarness(DesktopHarness &desktop)
        : m_desktop(desktop)
    {
    }

private slots:
    void keysTypedOnTheDesktopReachTheTarget();
    void microphoneSourceIsTheDefaultAt48kHz();
    void soundPlayedIntoTheMicrophoneIsRecorded();

private:
    DesktopHarness &m_desktop;
};

void tst_DesktopHarness::keysTypedOnTheDesktopReachTheTarget()
{
    TargetApp *target = m_desktop.startTarget();
    QVERIFY2(target, qPrintable(m_desktop.errorString()));
    QVERIFY(target->setText(TargetApp::lineEdit, QStringLiteral("héllo wörld")));
    QVERIFY(target->waitForText(TargetApp::lineEdit, QStringLiteral("héllo wörld")));
    QVERIFY(target->setText(TargetApp::textArea, QStringLiteral("two\nlines")));
    QVERIFY(target->waitForText(TargetApp::textArea, QStringLiteral("two\nlines")));

    QVERIFY(target->focus(TargetApp::textArea));
    QVERIFY(target->select(TargetApp::textArea, 0, 3));
    QVERIFY(m_desktop.xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("5"),
                               QStringLiteral("one")}));
    QVERIFY(target->waitForText(TargetApp::textArea, QStringLiteral("one\nlines")));
}

void tst_DesktopHarness::microphoneSourceIsTheDefaultAt48kHz()
{
    QByteArray info;
    QCOMPARE(runProgram(QStringLiteral("pactl"), {QStringLiteral("info")}, std::chrono::milliseconds(5000), &info), 0);
    QVERIFY2(info.contains("Default Source: " + m_desktop.microphoneSourceName().toUtf8()), info.constData());
    QByteArray sources;
    QCOMPARE(runProgram(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sources")},
                        std::chrono::milliseconds(5000), &sources),
             0);
    QVERIFY2(sources.contains(m_desktop.microphoneSourceName().toUtf8()) && sources.contains("48000Hz"), sources.constData());
}

void tst_DesktopHarness::soundPlayedIntoTheMicrophoneIsRecorded()
{
    QTemporaryDir dir;
    const QString tone = dir.filePath(QStringLiteral("tone.wav"));
    const QString recording = dir.filePath(QStringLiteral("recording.raw"));
    QCOMPARE(runProgram(QStringLiteral("sox"),
                        {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("48000"), QStringLiteral("-c"),
                         QStringLiteral("1"), QStringLiteral("-b"), QStringLiteral("16"), tone,
                         QStringLiteral("synth"), QStringLiteral("1"), QStringLiteral("sine"), QStringLiteral("440")},
                        std::chrono::milliseconds(10000)),
             0);
    // 16-bit mono from the default source for as long as the tone plays
    ChildProcess recorder;
    QVERIFY(recorder.start(QStringLiteral("sh"),
                           {QStringLiteral("-c"),
                            QStringLiteral("exec parec --raw --latency-msec=20 --format=s16le --rate=48000 --channels=1 > ") + recording}));
    QVERIFY(DesktopHarness::waitUntil([] {
        QByteArray outputs;
        runProgram(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("source-outputs")},
                   std::chrono::milliseconds(2000), &outputs);
        return !outputs.trimmed().isEmpty();
    }));
    QVERIFY(m_desktop.playIntoMicrophone(tone));
    QTest::qWait(300);
    recorder.stop();

    QFile file(recording);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray pcm = file.readAll();
    QVERIFY(!pcm.isEmpty());
    const auto *samples = reinterpret_cast<const qint16 *>(pcm.constData());
    const qint16 peak = *std::max_element(samples, samples + pcm.size() / 2);
    QVERIFY2(peak > 10000, qPrintable(QString::number(peak)));
}

TAVRUNE_E2E_MAIN(tst_DesktopHarness, DesktopHarness::Options{})
#include "tst_DesktopHarness.moc"

#include "DesktopHarness.h"
#include "platform/linux/PulseAudioOutput.h"

#include <QtTest>

#include <memory>

namespace {
constexpr int kRate = 16000;
} // namespace

// The loudspeakers through the desktop's sound server, ended while they play.
class tst_PulseAudioOutput : public DesktopTest {
    Q_OBJECT
public:
    using DesktopTest::DesktopTest;

private slots:
    void endsWhileTheSinkAsksForMore();
    void stopRunsNothingInsideTheCall();
};

void tst_PulseAudioOutput::endsWhileTheSinkAsksForMore()
{
    // An empty sink buffer makes the sink queue a call to itself for the rest:
    // the output then ends with that call still waiting, as at a quit.
    for (int round = 0; round < 3; ++round) {
        auto output = std::make_unique<PulseAudioOutput>();
        QVERIFY(output->play(std::vector<float>(kRate, 0.1f), kRate, {}));
        QThread::msleep(200);
        QCoreApplication::processEvents();
        output.reset();
    }
}

void tst_PulseAudioOutput::stopRunsNothingInsideTheCall()
{
    PulseAudioOutput output;
    std::vector<bool> ended;
    QVERIFY(output.play(std::vector<float>(kRate / 100, 0.1f), kRate, [&](bool played) { ended.push_back(played); }));
    // the sink takes the buffer, whose end is then due while nothing runs
    QTest::qWait(40);
    QThread::msleep(300);
    const std::vector<bool> before = ended;
    output.stop();
    QCOMPARE(ended, before);
    QTRY_COMPARE(ended.size(), size_t(1));
    if (before.empty())
        QCOMPARE(ended.front(), false);
    // and the next piece plays on a new sink
    QVERIFY(output.play(std::vector<float>(kRate / 100, 0.1f), kRate, [&](bool played) { ended.push_back(played); }));
    QTRY_COMPARE(ended.size(), size_t(2));
    QCOMPARE(ended.back(), true);
}

TAVRUNE_E2E_MAIN(tst_PulseAudioOutput, (DesktopHarness::Options{.windowManager = false, .accessibility = false}))
#include "tst_PulseAudioOutput.moc"

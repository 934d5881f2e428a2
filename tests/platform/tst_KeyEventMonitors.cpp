#include "platform/fake/FakeKeyEventSource.h"

#include <QtTest>

namespace {
using EventType = KeyEventSource::EventType;
constexpr quint64 keyDownMask = KeyEventSource::maskFor(EventType::keyDown);
} // namespace

// The routing every key event source shares: global monitors observe other
// applications' events, local ones see ours and may consume them.
class tst_KeyEventMonitors : public QObject {
    Q_OBJECT
private slots:
    void consumingStopsTheLocalChain();
    void handlersMayRemoveMonitors();
};

void tst_KeyEventMonitors::consumingStopsTheLocalChain()
{
    FakeKeyEventSource source;
    source.setActiveApplication(true);
    int later = 0;
    source.addLocalMonitor(keyDownMask, [](const KeyEventSource::KeyEvent &e) { return e.keyCode == 9; });
    source.addLocalMonitor(keyDownMask, [&](const KeyEventSource::KeyEvent &) {
        ++later;
        return false;
    });
    QVERIFY(source.keyDown(9, 0));
    QCOMPARE(later, 0);
    QVERIFY(!source.keyDown(1, 0));
    QCOMPARE(later, 1);
}

void tst_KeyEventMonitors::handlersMayRemoveMonitors()
{
    FakeKeyEventSource source;
    KeyEventSource::MonitorToken second = 0;
    int calls = 0;
    const auto first = source.addGlobalMonitor(keyDownMask, [&](const KeyEventSource::KeyEvent &) {
        ++calls;
        source.removeMonitor(second);
    });
    second = source.addGlobalMonitor(keyDownMask, [&](const KeyEventSource::KeyEvent &) { ++calls; });
    QVERIFY(first != 0 && second != 0 && first != second);
    source.keyDown(1, 0); // the removed monitor no longer sees the event in flight
    source.keyDown(1, 0);
    QCOMPARE(calls, 2);
    QCOMPARE(source.monitorCount(), 1);
}

QTEST_GUILESS_MAIN(tst_KeyEventMonitors)
#include "tst_KeyEventMonitors.moc"

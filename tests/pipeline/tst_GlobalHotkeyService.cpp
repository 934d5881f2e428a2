#include "support/HotkeyCalls.h"
#include "pipeline/GlobalHotkeyService.h"
#include "platform/fake/FakePlatform.h"
#include "support/FakeMonotonicClock.h"

#include <QtTest>

#include <memory>

namespace {
namespace Flag = ModifierFlag;
constexpr quint64 cmdCtrl = Flag::command | Flag::control;
} // namespace

class tst_GlobalHotkeyService : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup() { m_service.reset(); }

    void holdGesture_data();
    void holdGesture();
    void chordsMatchExactModifiers_data();
    void chordsMatchExactModifiers();
    void toggleOnlyWhileAnotherApplicationIsActive_data();
    void toggleOnlyWhileAnotherApplicationIsActive();
    void gesturesWithoutCallbacksAreStillConsumed();
    void startReplacesMonitorsAndStopRemovesThem();
    void releasedServiceIgnoresEvents();

private:
    // Sends a script of events such as "down 49 option", "repeat 49 option",
    // "up 49", "flags function", "active" / "inactive"; "mark" notes the
    // moment among the calls.
    // False on a step it does not know.
    bool play(const QStringList &script);
    quint64 flags(const QString &names) const;

    FakePlatform *m_platform = nullptr;
    FakeKeyEventSource *m_keys = nullptr;
    std::unique_ptr<GlobalHotkeyService> m_service;
    QStringList m_calls;
    FakeMonotonicClock m_clock;
};

void tst_GlobalHotkeyService::init()
{
    m_platform = &FakePlatform::installNew();
    m_keys = &m_platform->fakeKeyEventSource();
    m_service = std::make_unique<GlobalHotkeyService>(m_clock);
    m_calls.clear();
    recordHotkeyCalls(*m_service, m_calls);
    m_service->start();
}

quint64 tst_GlobalHotkeyService::flags(const QString &names) const
{
    static const QHash<QString, quint64> bits{{"shift", Flag::shift},       {"control", Flag::control},
                                              {"option", Flag::option},     {"command", Flag::command},
                                              {"function", Flag::function}, {"capsLock", Flag::capsLock}};
    quint64 result = 0;
    for (const QString &name : names.split(QLatin1Char('+'), Qt::SkipEmptyParts))
        result |= bits.value(name);
    return result;
}

bool tst_GlobalHotkeyService::play(const QStringList &script)
{
    for (const QString &step : script) {
        const QStringList w = step.split(QLatin1Char(' '));
        const QString verb = w[0];
        const quint16 key = quint16(w.value(1).toUInt());
        if (verb == "active" || verb == "inactive")
            m_keys->setActiveApplication(verb == "active");
        else if (verb == "mark")
            m_calls << verb;
        else if (verb == "wait")
            m_clock.advance(std::chrono::milliseconds(w[1].toInt()));
        else if (verb == "down" || verb == "repeat")
            m_keys->keyDown(key, flags(w.value(2)), verb == "repeat");
        else if (verb == "up")
            m_keys->keyUp(key, flags(w.value(2)));
        else if (verb == "flags")
            m_keys->flagsChanged(flags(w.value(1)));
        else
            return false;
    }
    return true;
}

void tst_GlobalHotkeyService::holdGesture_data()
{
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<QStringList>("calls");
    const QStringList once{QStringLiteral("holdStart"), QStringLiteral("holdRelease")};

    QTest::newRow("too short a hold ends like a long one")
        << QStringList{"down 49 option", "wait 100", "up 49 option"} << once;
    QTest::newRow("space released first")
        << QStringList{"flags option", "down 49 option", "wait 500", "up 49 option", "flags"} << once;
    QTest::newRow("alt released alone before space")
        << QStringList{"down 49 option", "wait 300", "flags", "mark", "up 49"} << (once + QStringList{"mark"});
    QTest::newRow("second press while held")
        << QStringList{"down 49 option", "up 49 option", "down 49 option", "down 49 option", "up 49 option"}
        << (once + once);
    QTest::newRow("caps lock on") << QStringList{"down 49 option+capsLock", "up 49 option+capsLock"} << once;
    QTest::newRow("extra shift") << QStringList{"down 49 option+shift", "up 49 option+shift"} << QStringList{};
    QTest::newRow("space alone") << QStringList{"down 49", "up 49"} << QStringList{};
    QTest::newRow("unrelated flag change keeps the hold")
        << QStringList{"down 49 option", "flags option+shift", "up 49 option+shift"} << once;
    QTest::newRow("started elsewhere, released in our window")
        << QStringList{"down 49 option", "active", "up 49 option", "inactive", "flags"} << once;
}

void tst_GlobalHotkeyService::holdGesture()
{
    QFETCH(QStringList, script);
    QFETCH(QStringList, calls);
    QVERIFY(play(script));
    QCOMPARE(m_calls, calls);
    QVERIFY(!m_service->isHolding());
}

void tst_GlobalHotkeyService::chordsMatchExactModifiers_data()
{
    QTest::addColumn<bool>("active");
    QTest::addColumn<quint16>("keyCode");
    QTest::addColumn<QString>("modifiers");
    QTest::addColumn<QString>("call");

    QTest::newRow("caps lock is outside the mask") << false << Key::v << "command+control+capsLock" << "fallbackPaste";
    QTest::newRow("function is outside the mask") << false << Key::r << "command+control+function" << "speakAgain";
    QTest::newRow("extra option") << false << Key::v << "command+control+option" << "";
    QTest::newRow("control only") << false << Key::v << "control" << "";
    QTest::newRow("other key") << false << quint16(7) << "command+control" << "";
    QTest::newRow("local summarize") << true << Key::s << "command+control" << "summarize";
    QTest::newRow("local extra shift passes through") << true << Key::r << "command+control+shift" << "";
}

void tst_GlobalHotkeyService::chordsMatchExactModifiers()
{
    QFETCH(bool, active);
    QFETCH(quint16, keyCode);
    QFETCH(QString, modifiers);
    QFETCH(QString, call);

    m_keys->setActiveApplication(active);
    const bool consumed = m_keys->keyDown(keyCode, flags(modifiers));
    m_keys->keyUp(keyCode, flags(modifiers));
    QCOMPARE(m_calls, call.isEmpty() ? QStringList{} : QStringList{call});
    // only our own window's events can be consumed, and only when they match
    QCOMPARE(consumed, active && !call.isEmpty());
}

void tst_GlobalHotkeyService::toggleOnlyWhileAnotherApplicationIsActive_data()
{
    QTest::addColumn<QStringList>("script");
    QTest::addColumn<int>("toggles");

    QTest::newRow("fn+space") << QStringList{"flags function", "down 49 function", "up 49 function", "flags"} << 1;
    QTest::newRow("twice") << QStringList{"flags function", "down 49 function", "up 49", "down 49 function", "up 49"}
                           << 2;
    QTest::newRow("held long enough to repeat")
        << QStringList{"flags function", "down 49 function", "repeat 49 function", "repeat 49 function", "up 49"} << 1;
    QTest::newRow("fn+caps lock+space") << QStringList{"flags function+capsLock", "down 49 function+capsLock"} << 1;
    QTest::newRow("fn+shift+space") << QStringList{"flags function+shift", "down 49 function+shift"} << 0;
    QTest::newRow("fn released before space") << QStringList{"flags function", "flags", "down 49"} << 0;
    QTest::newRow("fn+v") << QStringList{"flags function", "down 9 function"} << 0;
    QTest::newRow("in our own window") << QStringList{"active", "flags function", "down 49 function"} << 0;
}

void tst_GlobalHotkeyService::toggleOnlyWhileAnotherApplicationIsActive()
{
    QFETCH(QStringList, script);
    QFETCH(int, toggles);
    QVERIFY(play(script));
    QCOMPARE(m_calls, QStringList(toggles, QStringLiteral("toggle")));
}

void tst_GlobalHotkeyService::gesturesWithoutCallbacksAreStillConsumed()
{
    GlobalHotkeyService bare;
    bare.start();
    m_service->stop();

    m_keys->setActiveApplication(true);
    QVERIFY(m_keys->keyDown(Key::s, cmdCtrl));
    QVERIFY(m_keys->keyDown(Key::space, Flag::option));
    QVERIFY(!m_keys->keyDown(Key::space, Flag::option, true)); // the repeat passes through
    QVERIFY(m_keys->keyUp(Key::space, Flag::option));
    QVERIFY(!m_keys->keyUp(Key::space, Flag::option));
    m_keys->setActiveApplication(false);
    m_keys->flagsChanged(Flag::function);
    m_keys->keyDown(Key::space, Flag::function);
    m_keys->flagsChanged(0);
    m_keys->keyDown(Key::v, cmdCtrl);
    m_keys->keyDown(Key::space, Flag::option);
    m_keys->flagsChanged(0);

    QVERIFY(m_calls.isEmpty());
    QVERIFY(!bare.isHolding());
}

void tst_GlobalHotkeyService::startReplacesMonitorsAndStopRemovesThem()
{
    m_service->start();
    QCOMPARE(m_keys->monitorCount(), 5);

    QVERIFY(play({"down 9 command+control"}));
    QCOMPARE(m_calls, QStringList{QStringLiteral("fallbackPaste")});

    m_service->stop();
    QCOMPARE(m_keys->monitorCount(), 0);
    QVERIFY(play({"down 9 command+control", "down 49 option"}));
    QCOMPARE(m_calls.size(), 1);
}

void tst_GlobalHotkeyService::releasedServiceIgnoresEvents()
{
    m_service.reset(); // its monitors stay installed
    QCOMPARE(m_keys->monitorCount(), 5);
    m_keys->setActiveApplication(true);
    QVERIFY(!m_keys->keyDown(Key::s, cmdCtrl));
    m_keys->setActiveApplication(false);
    m_keys->keyDown(Key::space, Flag::option);
    QVERIFY(m_calls.isEmpty());
}

QTEST_GUILESS_MAIN(tst_GlobalHotkeyService)
#include "tst_GlobalHotkeyService.moc"

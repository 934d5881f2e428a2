#pragma once

// A throwaway X11 desktop for end-to-end tests: Xvfb, openbox, a private
// D-Bus session bus (nothing bus-activated) with the AT-SPI bus, PulseAudio
// with a microphone the test feeds, and our target application. All of it
// lives in a private temporary directory and is stopped, in reverse order
// and with bounded waits, by stop() or the destructor; should the suite die
// first, a watcher process ends it (ChildProcess::endChildrenWhenThisProcessDies).
//
// Use: derive the test object from DesktopTest (or give it a constructor
// taking DesktopHarness &), then
//   TAVRUNE_E2E_MAIN(tst_Something, DesktopHarness::Options{})
// which starts the desktop before the QGuiApplication, so the test process
// itself talks to the test X server. In a test:
//   TargetApp *target = m_desktop.startTarget();
//   QVERIFY(target->setText(TargetApp::textArea, "hello world"));
//   ... drive the code under test ...
//   QVERIFY(target->waitForText(TargetApp::textArea, "hello there"));
//
// While started, DISPLAY, DBUS_SESSION_BUS_ADDRESS, XDG_RUNTIME_DIR,
// PULSE_SERVER and the XDG config/data/cache homes point at the desktop, for
// this process and its children; stop() puts them back.
//
// Audio: the default source ("tavrune_microphone") carries what
// playIntoMicrophone() plays into the null sink "tavrune_mic"; our own
// playback goes to the null sink "tavrune_speakers".
// Keys: xdotool({"keydown", "alt+space"}) runs against the test display.
// Every helper's log stays in runDir(); TAVRUNE_E2E_KEEP=1 keeps the
// directory after the test.

#include "ChildProcess.h"
#include "TargetApp.h"
#include "platform/Platform.h"

#include <QGuiApplication>
#include <QObject>
#include <QTest>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class DesktopHarness {
public:
    struct Options {
        bool windowManager = true;
        // an XEmbed system tray (trayer) at the top right
        bool trayHost = false;
        // off = no accessibility anywhere on this desktop
        bool accessibility = true;
        bool audio = true;
    };

    DesktopHarness() = default;
    ~DesktopHarness() { stop(); }
    DesktopHarness(const DesktopHarness &) = delete;
    DesktopHarness &operator=(const DesktopHarness &) = delete;

    // Starts every piece the options ask for; false (with errorString()) if
    // any piece does not come up within its time limit.
    bool start(const Options &options);
    void stop();
    QString errorString() const { return m_error; }

    QString display() const { return m_display; }
    QString runDir() const { return m_runDir; }

    // A new target application, its window shown and active; nullptr on
    // failure. Owned by the harness; accessible = on the AT-SPI bus.
    TargetApp *startTarget(bool accessible = true);

    // Plays a sound file into the microphone; waits for its end unless told not to.
    // A short buffer starts at once but breaks up when the machine is busy; a
    // longer one holds, and the null sink drops about that much of the start.
    bool playIntoMicrophone(const QString &soundFile, bool wait = true,
                            std::chrono::milliseconds buffer = std::chrono::milliseconds(10));

    // Records what plays on our loudspeakers into file (raw mono float at
    // speakerRecordingRate) until the recorder stops.
    bool recordSpeakers(ChildProcess &recorder, const QString &file);
    static constexpr int speakerRecordingRate = 16000;
    // Seconds of such a recording louder than a whisper, in 20 ms windows.
    static double loudSeconds(const QString &file);

    // Runs xdotool; true when it exits with status 0.
    bool xdotool(const QStringList &arguments);

    // Polls condition every 10 ms, pumping Qt events, until it holds or the
    // timeout passes.
    static bool waitUntil(const std::function<bool()> &condition,
                          std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

    // The last lines of a helper's log ("xvfb", "openbox", "dbus", "atspi",
    // "pulse", "tray", "target-N"), for failure messages.
    QString logTail(const QString &name, int lines = 20) const;

private:
    bool fail(const QString &message);
    // Starts a helper logging to <name>.log and waits until ready() holds.
    bool launch(ChildProcess &process, const QString &name, const QString &program,
                const QStringList &arguments, const std::function<bool()> &ready,
                ChildProcess::Options options = {});
    QString writeConfig(const QString &fileName, const QByteArray &content);
    void setEnv(const char *name, const QByteArray &value, bool unset = false);
    QString logPath(const QString &name) const { return m_runDir + QLatin1Char('/') + name + QStringLiteral(".log"); }

    struct SavedEnv {
        QByteArray name;
        bool wasSet;
        QByteArray value;
    };

    Options m_options;
    bool m_started = false;
    QString m_error;
    QString m_display;
    QString m_runDir;
    std::vector<SavedEnv> m_savedEnv;
    ChildProcess m_xvfb, m_openbox, m_tray, m_dbus, m_atspi, m_pulse;
    std::vector<std::unique_ptr<TargetApp>> m_targets;
    std::vector<std::unique_ptr<ChildProcess>> m_players;
};

// A base for end-to-end test objects.
class DesktopTest : public QObject {
public:
    explicit DesktopTest(DesktopHarness &desktop) : m_desktop(desktop) {}

protected:
    DesktopHarness &m_desktop;
};

// main() for an end-to-end test: the desktop, then the QGuiApplication on it,
// then the test object constructed with the harness. An installed Platform
// goes before the application and the desktop, whose X server its
// connections would otherwise outlive.
#define TAVRUNE_E2E_MAIN(TestObject, desktopOptions)                                   \
    int main(int argc, char **argv)                                                   \
    {                                                                                  \
        DesktopHarness desktop;                                                        \
        if (!desktop.start(desktopOptions)) {                                          \
            qWarning("end-to-end desktop did not start: %s", qPrintable(desktop.errorString())); \
            return 1;                                                                  \
        }                                                                              \
        qputenv("QT_QPA_PLATFORM", "xcb");                                           \
        int status = 0;                                                                \
        {                                                                              \
            QGuiApplication app(argc, argv);                                            \
            TestObject test(desktop);                                                  \
            status = QTest::qExec(&test, argc, argv);                                  \
            Platform::install(nullptr);                                                \
        }                                                                              \
        desktop.stop();                                                                \
        return status;                                                                 \
    }

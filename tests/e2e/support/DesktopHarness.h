#pragma once

// A throwaway X11 desktop for end-to-end tests: Xvfb on a free display,
// openbox, a private D-Bus session bus (nothing is bus-activated on it) with
// the AT-SPI accessibility bus, PulseAudio with a microphone source the test
// feeds, and our small target application. Everything runs under a private temporary directory and is
// stopped again, in reverse order and with bounded waits, by stop() or the
// destructor.
//
// Typical use (the main macro starts the desktop before QGuiApplication, so the
// test process itself talks to the test X server):
//
//   class tst_Something : public QObject {
//       Q_OBJECT
//   public:
//       explicit tst_Something(DesktopHarness &desktop) : m_desktop(desktop) {}
//   private slots:
//       void typesIntoTarget() {
//           TargetApp *target = m_desktop.startTarget();
//           QVERIFY2(target, qPrintable(m_desktop.errorString()));
//           QVERIFY(target->setText(TargetApp::textArea, "hello world"));
//           QVERIFY(target->select(TargetApp::textArea, 6, 11));
//           ... drive the code under test ...
//           QVERIFY(target->waitForText(TargetApp::textArea, "hello there"));
//       }
//   private:
//       DesktopHarness &m_desktop;
//   };
//   TAVRUNE_E2E_MAIN(tst_Something, DesktopHarness::Options{})
//
// While started, DISPLAY, DBUS_SESSION_BUS_ADDRESS, XDG_RUNTIME_DIR,
// PULSE_SERVER and the XDG config/data/cache homes point at the desktop, for
// this process and for every child it starts; stop() puts them back.
//
// Audio: the default source ("tavrune_microphone") carries what is played
// into a 48 kHz mono null sink ("tavrune_mic"); playIntoMicrophone() plays a
// sound file into it with paplay, so whatever records from the default source
// hears it. Playback of
// the process under test goes to a separate null sink ("tavrune_speakers").
//
// Keys: xdotool() runs xdotool against the test display, e.g.
// xdotool({"keydown", "alt+space"}).
//
// Logs of every helper are kept in runDir(); set TAVRUNE_E2E_KEEP=1 to keep
// that directory after the test.

#include "ChildProcess.h"
#include "TargetApp.h"
#include "platform/Platform.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QTest>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class DesktopHarness {
public:
    struct Options {
        bool windowManager = true;
        // The AT-SPI bus on the private session bus; off = no accessibility
        // anywhere on this desktop.
        bool accessibility = true;
        bool audio = true;
        int microphoneRate = 48000;
        int microphoneChannels = 1;
    };

    DesktopHarness();
    ~DesktopHarness();
    DesktopHarness(const DesktopHarness &) = delete;
    DesktopHarness &operator=(const DesktopHarness &) = delete;

    // Starts every piece the options ask for; false (with errorString()) if
    // any piece does not come up within its time limit.
    bool start(const Options &options);
    void stop();
    bool isStarted() const { return m_started; }
    QString errorString() const { return m_error; }

    const Options &options() const { return m_options; }
    QString display() const { return m_display; }
    QString runDir() const;

    // A new instance of the target application, its window shown and
    // active; nullptr on failure. Owned by the harness; accessible means it
    // exposes itself on the AT-SPI bus.
    TargetApp *startTarget(bool accessible = true);

    // Plays a sound file into the microphone source; waits for the end of
    // playback unless wait is false.
    bool playIntoMicrophone(const QString &soundFile, bool wait = true);
    QString microphoneSourceName() const { return QStringLiteral("tavrune_microphone"); }

    // Runs xdotool with the arguments; true when it exits with status 0.
    bool xdotool(const QStringList &arguments);

    // Polls condition every 10 ms (pumping Qt events when an application
    // exists) until it holds or the timeout passes.
    static bool waitUntil(const std::function<bool()> &condition,
                          std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

    // The last lines of a helper's log ("xvfb", "openbox", "dbus", "atspi",
    // "pulse", "target-N"), for failure messages.
    QString logTail(const QString &name, int lines = 20) const;

private:
    bool fail(const QString &message);
    bool startX();
    bool startWindowManager();
    bool startSessionBus();
    bool startAccessibilityBus();
    bool startPulseAudio();
    void setEnv(const char *name, const QByteArray &value);
    void unsetEnv(const char *name);
    void restoreEnv();
    QString logPath(const QString &name) const;

    struct SavedEnv {
        QByteArray name;
        bool wasSet;
        QByteArray value;
    };

    Options m_options;
    bool m_started = false;
    QString m_error;
    QString m_display;
    QByteArray m_runDir;
    std::vector<SavedEnv> m_savedEnv;
    ChildProcess m_xvfb;
    ChildProcess m_openbox;
    ChildProcess m_dbus;
    ChildProcess m_atspi;
    ChildProcess m_pulse;
    std::vector<std::unique_ptr<TargetApp>> m_targets;
    std::vector<std::unique_ptr<ChildProcess>> m_players;
};

// main() for an end-to-end test: starts the desktop, then the QGuiApplication
// (on the test X server), then runs the test object constructed with the
// harness. An installed Platform goes before the application and the desktop,
// whose X server its connections would otherwise outlive.
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

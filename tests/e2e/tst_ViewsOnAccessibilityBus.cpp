#include "AccessibleEvents.h"
#include "AccessibleTree.h"
#include "DesktopHarness.h"
#include "TavruneProcess.h"

#include "pipeline/WavEncoder.h"
#include "platform/linux/XdgPaths.h"
#include "profile/VoiceProfileStore.h"
#include "support/SynthesizedSpeech.h"

#include <QScopeGuard>
#include <QtTest>

#include <algorithm>

using namespace std::chrono_literals;

// Every view of the window and of the settings window as a screen reader
// reads it over AT-SPI: the application itself, with a history, terms and
// snippets, on a desktop with a tray.
class tst_ViewsOnAccessibilityBus : public DesktopTest {
    Q_OBJECT
public:
    using DesktopTest::DesktopTest;

private slots:
    void initTestCase();
    void everyViewReadsWell_data();
    void everyViewReadsWell();
    void shownTextsAreRead_data();
    void shownTextsAreRead();
    void greyedControlsAreDisabledAndInert();
    void theFocusFollowsEachAction();
    // last: its dictation adds to the history the other cases read
    void theOverlayReadsAndSpeaksUpWithoutTheFocus();

private:
    // The window's objects once one named name shows in it.
    QList<AccessibleTree::Object> waitFor(const QString &window, const QString &name);
    // Clicks the middle of the object as a user would.
    bool click(const AccessibleTree::Object &object);
    // Clicks the page tab of the window.
    bool showTab(const QString &tab);
    // The object with the keyboard focus, once it is named name; nullopt
    // when another keeps it.
    std::optional<AccessibleTree::Object> waitForFocus(const QString &name);

    std::unique_ptr<TavruneProcess> m_app;
    QString m_trayIcon;
};

namespace {
const QString kWindow = QStringLiteral("Tavrune");
const QString kSettingsWindow = QStringLiteral("Tavrune Settings");
const QString kOverlay = QStringLiteral("Tavrune dictation");

void saveDesktop(const QString &name)
{
    QDir().mkpath(QStringLiteral(TAVRUNE_SCREENSHOT_DIR));
    QGuiApplication::primaryScreen()->grabWindow(0).save(QStringLiteral(TAVRUNE_SCREENSHOT_DIR "/%1.png").arg(name));
}

QString xdotoolOutput(const QStringList &arguments)
{
    QByteArray output;
    return runProgram(QStringLiteral("xdotool"), arguments, 5s, &output) == 0 ? QString::fromLatin1(output).trimmed()
                                                                                : QString();
}
} // namespace

void tst_ViewsOnAccessibilityBus::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("trayer")).isEmpty())
        QSKIP("trayer is not installed (scripts/bootstrap installs it)");
    {
        XdgPaths paths;
        VoiceProfileStore store(VoiceProfileStore::defaultDatabasePath(paths));
        for (int i = 0; i < 4; ++i)
            store.logSession(4 + i, 9, QStringLiteral("en"), QStringLiteral("raw"), QStringLiteral("Buy milk, note %1.").arg(i));
        store.addCustomTerm(QStringLiteral("btw"), QStringLiteral("by the way"), QStringLiteral("en"));
        store.addAutoTerm(QStringLiteral("kubernetes"), QStringLiteral("en"));
        for (int i = 0; i < 12; ++i)
            store.recordWords({QStringLiteral("meeting")}, QStringLiteral("en"));
        store.addSnippet(QStringLiteral("/sig"), QStringLiteral("Best regards"), QStringLiteral("Email"));
        store.addSnippet(QStringLiteral("/addr"), QStringLiteral("34 Side Road"), QStringLiteral("Address"));
    }
    // the launch's downloads must not leave the machine
    qputenv("TAVRUNE_DOWNLOAD_BASE_URL", "http://127.0.0.1:9");
    // on the accessibility bus, though the desktop has not turned it on
    qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    m_app = std::make_unique<TavruneProcess>(m_desktop.runDir() + QStringLiteral("/tavrune.log"));
    QVERIFY(m_app->start(QStringLiteral(TAVRUNE_APP)));
    QVERIFY2(m_app->waitForLog(QStringLiteral("[AppDelegate] Setup complete"), 30s), qPrintable(m_app->log()));

    // the tray icon is the application's smallest window
    QVERIFY(DesktopHarness::waitUntil([&] {
        const QStringList ids = xdotoolOutput({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                                               QString::number(m_app->pid())})
                                    .split(u'\n', Qt::SkipEmptyParts);
        for (const QString &id : ids) {
            if (xdotoolOutput({QStringLiteral("getwindowgeometry"), id}).contains(QLatin1String("Geometry: 22x22")))
                m_trayIcon = id;
        }
        return !m_trayIcon.isEmpty();
    }, 10s));
    QVERIFY(m_desktop.xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), m_trayIcon, QStringLiteral("11"),
                               QStringLiteral("11"), QStringLiteral("click"), QStringLiteral("1")}));
    QVERIFY(!waitFor(kWindow, QStringLiteral("Quit Tavrune")).isEmpty());
    if (AccessibleTree::window(m_app->pid(), kSettingsWindow).isEmpty()) {
        // Settings… heads the icon's menu
        QVERIFY(m_desktop.xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), m_trayIcon, QStringLiteral("11"),
                                   QStringLiteral("11"), QStringLiteral("click"), QStringLiteral("3")}));
        DesktopHarness::waitUntil([] { return false; }, 500ms);
        QVERIFY(m_desktop.xdotool({QStringLiteral("key"), QStringLiteral("Down"), QStringLiteral("Return")}));
    }
    QVERIFY(!waitFor(kSettingsWindow, QStringLiteral("Launch at login")).isEmpty());
}

QList<AccessibleTree::Object> tst_ViewsOnAccessibilityBus::waitFor(const QString &window, const QString &name)
{
    QList<AccessibleTree::Object> tree;
    DesktopHarness::waitUntil([&] {
        tree = AccessibleTree::window(m_app->pid(), window);
        return AccessibleTree::find(tree, name) != nullptr;
    }, 10s);
    return AccessibleTree::find(tree, name) ? tree : QList<AccessibleTree::Object>();
}

bool tst_ViewsOnAccessibilityBus::click(const AccessibleTree::Object &object)
{
    if (!object.extents)
        return false;
    const QPoint centre = object.extents->center();
    return m_desktop.xdotool({QStringLiteral("mousemove"), QString::number(centre.x()), QString::number(centre.y()),
                              QStringLiteral("click"), QStringLiteral("1")});
}

bool tst_ViewsOnAccessibilityBus::showTab(const QString &tab)
{
    const QList<AccessibleTree::Object> tree = AccessibleTree::window(m_app->pid(), kWindow);
    const AccessibleTree::Object *pageTab = AccessibleTree::find(tree, tab, QStringLiteral("page tab"));
    return pageTab && click(*pageTab);
}

std::optional<AccessibleTree::Object> tst_ViewsOnAccessibilityBus::waitForFocus(const QString &name)
{
    std::optional<AccessibleTree::Object> focused;
    DesktopHarness::waitUntil([&] {
        focused = AccessibleTree::focused(m_app->pid(), kWindow);
        return focused && focused->name == name;
    }, 5s);
    return focused && focused->name == name ? focused : std::nullopt;
}

void tst_ViewsOnAccessibilityBus::everyViewReadsWell_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("tab");   // the page tab that shows the view
    QTest::addColumn<QString>("sheet"); // the button that opens a sheet over it
    // named objects the view must show, and the description of some
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QStringList>("described");

    // the figures of the statistics and the recordings' texts are read
    QTest::newRow("home") << kWindow << "Home" << ""
                          << QStringList{"Statistics", "36 words, you've dictated so far.", "Buy milk, note 0.",
                                         "Copy recording 1", "Copy recording 2"}
                          << QStringList{};
    QTest::newRow("dictionary") << kWindow << "Dictionary" << "" << QStringList{"Add Custom Term", "Delete btw"}
                                << QStringList{};
    QTest::newRow("dictionary-sheet") << kWindow << "Dictionary" << "Add Custom Term"
                                      << QStringList{"Term (e.g., 'btw')", "Cancel"} << QStringList{};
    QTest::newRow("snippets") << kWindow << "Snippets" << "" << QStringList{"Add Snippet", "Delete /sig"}
                              << QStringList{};
    // pickers are named by their label, their choice read after it
    QTest::newRow("snippets-sheet") << kWindow << "Snippets" << "Add Snippet" << QStringList{"Expansion", "Save"}
                                    << QStringList{"Category", "General"};
    QTest::newRow("settings-tab") << kWindow << "Settings" << ""
                                  << QStringList{"Download Whisper Base", "Download Kokoro TTS (82M)", "Grant Access"}
                                  << QStringList{"Transcription Mode", "Parallel (Live + Whisper)", "Language", "English"};
    QTest::newRow("settings-window") << kSettingsWindow << "" << ""
                                     << QStringList{"Download HD Voice Pack", "Launch at login"}
                                     << QStringList{"Rewrite Style", "Grammar Correct"};
}

void tst_ViewsOnAccessibilityBus::everyViewReadsWell()
{
    QFETCH(QString, window);
    QFETCH(QString, tab);
    QFETCH(QString, sheet);
    QFETCH(QStringList, shown);
    QFETCH(QStringList, described);

    if (!tab.isEmpty()) {
        const QList<AccessibleTree::Object> tree = AccessibleTree::window(m_app->pid(), window);
        const AccessibleTree::Object *pageTab = AccessibleTree::find(tree, tab, QStringLiteral("page tab"));
        QVERIFY(pageTab);
        // as a user clicks it
        QVERIFY(click(*pageTab));
    }
    if (!sheet.isEmpty()) {
        QVERIFY(!waitFor(window, sheet).isEmpty());
        QVERIFY(AccessibleTree::act(m_app->pid(), sheet, QStringLiteral("push button")));
    }
    QList<AccessibleTree::Object> view = waitFor(window, shown.first());
    QDir().mkpath(QStringLiteral(TAVRUNE_SCREENSHOT_DIR));
    QGuiApplication::primaryScreen()->grabWindow(0).save(
        QStringLiteral(TAVRUNE_SCREENSHOT_DIR "/desktop-%1.png").arg(QLatin1String(QTest::currentDataTag())));
    for (const QString &name : shown)
        QVERIFY2(AccessibleTree::find(view, name), qPrintable(name));
    for (qsizetype i = 0; i + 1 < described.size(); i += 2) {
        // the control, not the label beside it that bears its name
        const bool found = std::any_of(view.cbegin(), view.cend(), [&](const AccessibleTree::Object &object) {
            return object.name == described[i] && object.description == described[i + 1];
        });
        QVERIFY2(found, qPrintable(described[i]));
    }

    QStringList names;
    for (const AccessibleTree::Object &object : view) {
        const QString what = QStringLiteral("%1 \"%2\"").arg(object.role, object.name);
        // every dialog carries its title, the sheet its own
        if (object.role == QLatin1String("dialog"))
            QCOMPARE(object.name, sheet);
        // the hidden have no place on the screen: they are not there at all
        QVERIFY2(object.extents, qPrintable(QStringLiteral("hidden but exposed: ") + what));
        if (!object.actionable || object.role == QLatin1String("scroll bar"))
            continue;
        QVERIFY2(!object.name.isEmpty(), qPrintable(QStringLiteral("no name: ") + what));
        QVERIFY2(!names.contains(object.name), qPrintable(QStringLiteral("named twice: ") + what));
        names.append(object.name);
    }
    if (!sheet.isEmpty()) {
        QVERIFY(AccessibleTree::find(view, sheet, QStringLiteral("dialog")));
        QVERIFY(AccessibleTree::act(m_app->pid(), QStringLiteral("Cancel"), QStringLiteral("push button")));
        QVERIFY(DesktopHarness::waitUntil([&] {
            return !AccessibleTree::find(AccessibleTree::window(m_app->pid(), window), sheet, QStringLiteral("dialog"));
        }));
    }
}

void tst_ViewsOnAccessibilityBus::theOverlayReadsAndSpeaksUpWithoutTheFocus()
{
    if (QStandardPaths::findExecutable(QStringLiteral("espeak-ng")).isEmpty())
        QSKIP("espeak-ng is not installed (scripts/bootstrap installs it)");
    QList<float> speech(8000, 0.0f); // the long playback buffer drops the start
    speech += SynthesizedSpeech::samples(QStringLiteral("hello world, the weather is nice today"));
    const QString speechFile = m_desktop.runDir() + QStringLiteral("/speech.wav");
    QFile wav(speechFile);
    QVERIFY(wav.open(QIODevice::WriteOnly) && wav.write(WavEncoder::makeWAVData(speech)) > 0);
    wav.close();
    AccessibleEvents heard({QStringLiteral("object:state-changed:showing")});
    const auto announced = [&](const QString &start) {
        for (const AccessibleEvents::Event &event : heard.events()) {
            if (event.pid == m_app->pid() && event.detail1 == 1 && event.role == QLatin1String("alert")
                && event.name.startsWith(start))
                return true;
        }
        return false;
    };
    const auto unfocused = [](const QList<AccessibleTree::Object> &tree) {
        return std::none_of(tree.cbegin(), tree.cend(), [](const AccessibleTree::Object &o) { return o.focused; });
    };
    // What is shown is there with the box it is drawn in, within the
    // window; nothing else is there.
    const auto drawnWithin = [](const QList<AccessibleTree::Object> &tree) {
        const std::optional<QRect> window = tree.isEmpty() ? std::nullopt : tree.first().extents;
        for (const AccessibleTree::Object &object : tree) {
            const QString what = QStringLiteral("%1 \"%2\"").arg(object.role, object.name);
            if (!window || !object.extents || !window->contains(*object.extents))
                return QStringLiteral("outside the window: ") + what;
            if (object.depth > 1 && object.name.isEmpty() && object.role != QLatin1String("filler")
                && object.role != QLatin1String("panel"))
                return QStringLiteral("unnamed: ") + what;
        }
        return QString();
    };

    // While listening: the header and what has been heard so far.
    QVERIFY(m_desktop.xdotool({QStringLiteral("keydown"), QStringLiteral("alt+space")}));
    QList<AccessibleTree::Object> overlay = waitFor(kOverlay, QStringLiteral("Listening"));
    QVERIFY2(!overlay.isEmpty(), qPrintable(m_app->log()));
    QVERIFY(AccessibleTree::find(overlay, QStringLiteral("Release Alt Space to stop")));
    QVERIFY(unfocused(overlay));
    // no stages list yet, and nothing to announce
    QVERIFY(!AccessibleTree::find(overlay, QStringLiteral("Stages")));
    QVERIFY(!AccessibleTree::find(overlay, QString(), QStringLiteral("alert")));
    QVERIFY2(drawnWithin(overlay).isEmpty(), qPrintable(drawnWithin(overlay)));
    QVERIFY(m_desktop.playIntoMicrophone(speechFile, true, 250ms));
    const auto liveText = [](const QList<AccessibleTree::Object> &tree) {
        return std::find_if(tree.cbegin(), tree.cend(), [](const AccessibleTree::Object &o) {
            return o.extents && !o.name.isEmpty() && o.name != QLatin1String("Listening")
                   && o.name != QLatin1String("Release Alt Space to stop") && o.role != QLatin1String("frame");
        }) != tree.cend();
    };
    QVERIFY2(DesktopHarness::waitUntil([&] { return liveText(overlay = AccessibleTree::window(m_app->pid(), kOverlay)); }, 20s),
             qPrintable(m_app->log()));
    saveDesktop(QStringLiteral("desktop-overlay-listening"));
    QVERIFY(m_desktop.xdotool({QStringLiteral("keyup"), QStringLiteral("space"), QStringLiteral("alt")}));

    // After the stop: a card per stage, read with its state and its text, and
    // the end told without asking.
    overlay = waitFor(kOverlay, QStringLiteral("Whisper Base, no text"));
    QVERIFY2(!overlay.isEmpty(), qPrintable(m_app->log()));
    QVERIFY(AccessibleTree::find(overlay, QStringLiteral("Live Speech, done")));
    QVERIFY(AccessibleTree::find(overlay, QStringLiteral("Skipped: not installed")));
    QVERIFY(AccessibleTree::find(overlay, QStringLiteral("Live (on-device)")));
    QVERIFY(AccessibleTree::find(overlay, QStringLiteral("Offline refinement")));
    QVERIFY(AccessibleTree::find(overlay, QStringLiteral("Stages"), QStringLiteral("list")));
    QVERIFY2(drawnWithin(overlay).isEmpty(), qPrintable(drawnWithin(overlay)));
    QVERIFY2(DesktopHarness::waitUntil([&] { return announced(QStringLiteral("Done")); }, 20s), qPrintable(m_app->log()));
    QVERIFY(unfocused(AccessibleTree::window(m_app->pid(), kOverlay)));
    QVERIFY(DesktopHarness::waitUntil([&] { return AccessibleTree::window(m_app->pid(), kOverlay).isEmpty(); }, 15s));

    // Without any microphone the start fails, and says why.
    QByteArray modules;
    QCOMPARE(runProgram(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("modules")},
                        5s, &modules),
             0);
    QString remap;
    for (const QByteArray &line : modules.split('\n')) {
        if (line.contains("module-remap-source"))
            remap = QString::fromLatin1(line.split('\t').first());
    }
    QVERIFY(!remap.isEmpty());
    QCOMPARE(runProgram(QStringLiteral("pactl"), {QStringLiteral("unload-module"), remap}, 5s), 0);
    const auto restore = qScopeGuard([] {
        runProgram(QStringLiteral("pactl"), QStringLiteral("load-module module-remap-source master=tavrune_mic.monitor "
                                                           "source_name=tavrune_microphone rate=48000 channels=1")
                                                .split(u' '),
                   5s);
        runProgram(QStringLiteral("pactl"), {QStringLiteral("set-default-source"), QStringLiteral("tavrune_microphone")}, 5s);
    });
    heard.clear();
    QVERIFY(m_desktop.xdotool({QStringLiteral("keydown"), QStringLiteral("alt+space")}));
    overlay = waitFor(kOverlay, QStringLiteral("No microphone found"));
    QVERIFY(m_desktop.xdotool({QStringLiteral("keyup"), QStringLiteral("space"), QStringLiteral("alt")}));
    QVERIFY2(!overlay.isEmpty(), qPrintable(m_app->log()));
    QVERIFY(AccessibleTree::find(overlay, QStringLiteral("Not started")));
    QVERIFY(unfocused(overlay));
    QVERIFY2(DesktopHarness::waitUntil([&] { return announced(QStringLiteral("Not started. No microphone found")); }, 10s),
             qPrintable(m_app->log()));
    saveDesktop(QStringLiteral("desktop-overlay-no-microphone"));
}

void tst_ViewsOnAccessibilityBus::shownTextsAreRead_data()
{
    QTest::addColumn<QString>("tab");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("home") << "Home" << QStringList{"History", "4 recordings", "9 words"};
    QTest::newRow("dictionary") << "Dictionary" << QStringList{"→ by the way", "manual", "Top Words", "meeting", "12x"};
    QTest::newRow("snippets") << "Snippets" << QStringList{"/sig", "Best regards", "Email"};
    QTest::newRow("settings") << "Settings"
                              << QStringList{"148 MB — Fast offline transcription", "Highest accuracy · auto-downloads on first run",
                                             "Hold to record, release to stop", "v1.0.0"};
}

void tst_ViewsOnAccessibilityBus::shownTextsAreRead()
{
    QFETCH(QString, tab);
    QFETCH(QStringList, texts);
    QVERIFY(showTab(tab));
    const QList<AccessibleTree::Object> view = waitFor(kWindow, texts.first());
    for (const QString &text : texts)
        QVERIFY2(AccessibleTree::find(view, text, QStringLiteral("label")), qPrintable(text));
}

void tst_ViewsOnAccessibilityBus::greyedControlsAreDisabledAndInert()
{
    // the voice picker has no voices to offer here
    QVERIFY(showTab(QStringLiteral("Settings")));
    const QList<AccessibleTree::Object> settings = waitFor(kWindow, QStringLiteral("Voice"));
    const AccessibleTree::Object *voices = AccessibleTree::find(settings, QStringLiteral("Voice"), QStringLiteral("combo box"));
    QVERIFY(voices && !voices->enabled);
    // each action listed once
    for (const AccessibleTree::Object &object : settings)
        QVERIFY2(QStringList(object.actions).removeDuplicates() == 0, qPrintable(object.name + u' ' + object.actions.join(u',')));

    // an empty sheet's last button, pressed, does nothing; behind the sheet nothing acts
    const struct {
        QString tab, opener, title, button;
    } sheets[] = {{QStringLiteral("Dictionary"), QStringLiteral("Add Custom Term"), QStringLiteral("Add Custom Term"), QStringLiteral("Add")},
                  {QStringLiteral("Snippets"), QStringLiteral("Add Snippet"), QStringLiteral("Add Snippet"), QStringLiteral("Save")}};
    for (const auto &sheet : sheets) {
        QVERIFY(showTab(sheet.tab));
        QVERIFY(!waitFor(kWindow, sheet.opener).isEmpty());
        QVERIFY(AccessibleTree::act(m_app->pid(), sheet.opener, QStringLiteral("push button")));
        QList<AccessibleTree::Object> view = waitFor(kWindow, sheet.button);
        const AccessibleTree::Object *button = AccessibleTree::find(view, sheet.button, QStringLiteral("push button"));
        QVERIFY2(button && !button->enabled, qPrintable(sheet.button));
        QVERIFY(AccessibleTree::act(m_app->pid(), sheet.button, QStringLiteral("push button")));
        QTest::qWait(300);
        view = AccessibleTree::window(m_app->pid(), kWindow);
        QVERIFY2(AccessibleTree::find(view, sheet.title, QStringLiteral("dialog")), qPrintable(sheet.title));
        for (const QString &behind : {QStringLiteral("Start Dictation"), sheet.opener, QStringLiteral("Quit Tavrune")}) {
            const AccessibleTree::Object *object = AccessibleTree::find(view, behind, QStringLiteral("push button"));
            QVERIFY2(object && !object->enabled, qPrintable(behind));
        }
        QVERIFY(AccessibleTree::act(m_app->pid(), QStringLiteral("Cancel"), QStringLiteral("push button")));
        QVERIFY(DesktopHarness::waitUntil([&] {
            return !AccessibleTree::find(AccessibleTree::window(m_app->pid(), kWindow), sheet.title, QStringLiteral("dialog"));
        }));
    }
    QVERIFY(AccessibleTree::find(AccessibleTree::window(m_app->pid(), kWindow), QStringLiteral("Start Dictation"))->enabled);
    QVERIFY2(!m_app->log().contains(QLatin1String("must be attached to an Item")), qPrintable(m_app->log()));
}

void tst_ViewsOnAccessibilityBus::theFocusFollowsEachAction()
{
    // a screen reader moves the focus to the statistics: they ring as for Tab
    QVERIFY(showTab(QStringLiteral("Home")));
    const QList<AccessibleTree::Object> home = waitFor(kWindow, QStringLiteral("Statistics"));
    const AccessibleTree::Object *stats = AccessibleTree::find(home, QStringLiteral("Statistics"), QStringLiteral("page tab list"));
    QVERIFY(stats && stats->extents);
    QTest::qWait(400); // the tab fades in
    const QRect around = stats->extents->adjusted(-4, -4, 4, 4);
    const auto grab = [&] {
        return QGuiApplication::primaryScreen()->grabWindow(0, around.x(), around.y(), around.width(), around.height()).toImage();
    };
    const QImage unfocused = grab();
    QVERIFY(AccessibleTree::grabFocus(m_app->pid(), QStringLiteral("Statistics"), QStringLiteral("page tab list")));
    // read as the page it shows
    QVERIFY(waitForFocus(QStringLiteral("36 words, you've dictated so far.")));
    QTest::qWait(200); // drawn
    const QImage focused = grab();
    saveDesktop(QStringLiteral("desktop-statistics-focused"));
    int changed = 0;
    for (int y = 0; y < around.height(); ++y) {
        for (int x = 0; x < around.width(); ++x)
            changed += focused.pixel(x, y) != unfocused.pixel(x, y);
    }
    QVERIFY2(changed >= around.width() + around.height(), qPrintable(QString::number(changed)));

    QVERIFY(showTab(QStringLiteral("Dictionary")));
    QVERIFY(!waitFor(kWindow, QStringLiteral("Add Custom Term")).isEmpty());
    // the sheet opens in its first field, and the term typed there is added
    QVERIFY(AccessibleTree::act(m_app->pid(), QStringLiteral("Add Custom Term"), QStringLiteral("push button")));
    QVERIFY(waitForFocus(QStringLiteral("Term (e.g., 'btw')")));
    QVERIFY(m_desktop.xdotool({QStringLiteral("type"), QStringLiteral("afk")}));
    QVERIFY(DesktopHarness::waitUntil([&] {
        const auto add = AccessibleTree::find(AccessibleTree::window(m_app->pid(), kWindow), QStringLiteral("Add"),
                                              QStringLiteral("push button"));
        return add && add->enabled;
    }, 5s));
    QVERIFY(AccessibleTree::act(m_app->pid(), QStringLiteral("Add"), QStringLiteral("push button")));
    // on the row it made
    QVERIFY(waitForFocus(QStringLiteral("Delete afk")));
    // then on the row that takes the deleted one's place
    QVERIFY(AccessibleTree::act(m_app->pid(), QStringLiteral("Delete afk"), QStringLiteral("push button")));
    QVERIFY(waitForFocus(QStringLiteral("Delete btw")) || waitForFocus(QStringLiteral("Delete kubernetes")));
    QVERIFY(!AccessibleTree::find(AccessibleTree::window(m_app->pid(), kWindow), QStringLiteral("Delete afk")));

    // A picker opens as a list named after it, each item read by its text;
    // the arrows take the focus from item to item and Escape back to the
    // picker. Page tabs and pickers are pressed like buttons.
    AccessibleEvents heard({QStringLiteral("object:state-changed:focused")});
    const auto focusedOn = [&](const QString &name, const QString &role) {
        return DesktopHarness::waitUntil([&] {
            return std::any_of(heard.events().cbegin(), heard.events().cend(), [&](const AccessibleEvents::Event &e) {
                return e.pid == m_app->pid() && e.detail1 == 1 && e.name == name && e.role == role;
            });
        }, 5s);
    };
    QVERIFY(AccessibleTree::act(m_app->pid(), QStringLiteral("Settings"), QStringLiteral("page tab")));
    QVERIFY(!waitFor(kWindow, QStringLiteral("Transcription Mode")).isEmpty());
    QVERIFY(AccessibleTree::act(m_app->pid(), QStringLiteral("Transcription Mode"), QStringLiteral("combo box")));
    const QList<AccessibleTree::Object> open = waitFor(kWindow, QStringLiteral("Cloud AI"));
    const auto list = std::find_if(open.cbegin(), open.cend(), [](const AccessibleTree::Object &o) {
        return o.role == QLatin1String("list") && o.name == QLatin1String("Transcription Mode");
    });
    QVERIFY(list != open.cend());
    QStringList items;
    for (auto item = list + 1; item != open.cend() && item->depth > list->depth; ++item) {
        if (item->depth == list->depth + 1)
            items.append(item->role + u' ' + item->name);
    }
    QCOMPARE(items, QStringList({"list item Parallel (Live + Whisper)", "list item Live Speech Only",
                                 "list item Whisper Base Only", "list item Whisper Large Only", "list item Cloud AI"}));
    QVERIFY(focusedOn(QStringLiteral("Parallel (Live + Whisper)"), QStringLiteral("list item")));
    QVERIFY(m_desktop.xdotool({QStringLiteral("key"), QStringLiteral("Down")}));
    QVERIFY(focusedOn(QStringLiteral("Live Speech Only"), QStringLiteral("list item")));
    saveDesktop(QStringLiteral("desktop-picker-open"));
    heard.clear();
    QVERIFY(m_desktop.xdotool({QStringLiteral("key"), QStringLiteral("Escape")}));
    QVERIFY(focusedOn(QStringLiteral("Transcription Mode"), QStringLiteral("combo box")));
    const QList<AccessibleTree::Object> closed = AccessibleTree::window(m_app->pid(), kWindow);
    QVERIFY(!AccessibleTree::find(closed, QStringLiteral("Transcription Mode"), QStringLiteral("list")));
    QCOMPARE(AccessibleTree::find(closed, QStringLiteral("Transcription Mode"), QStringLiteral("combo box"))->description,
             QStringLiteral("Parallel (Live + Whisper)"));
}

TAVRUNE_E2E_MAIN(tst_ViewsOnAccessibilityBus, (DesktopHarness::Options{.trayHost = true}))
#include "tst_ViewsOnAccessibilityBus.moc"

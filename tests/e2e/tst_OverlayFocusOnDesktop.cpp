#include "DesktopHarness.h"
#include "app/DictationOverlayModel.h"
#include "app/DictationOverlayPanel.h"
#include "app/UiModule.h"
#include "platform/Platform.h"
#include "platform/Workspace.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/X11Compositor.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/X11Workspaces.h"

#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QtTest>

#include <functional>

#include <X11/Xlib.h>
#include <xcb/xcb.h>

#include <atomic>
#include <thread>

// The overlay floats over the application being dictated into without ever
// taking its focus: typing still lands in that application.
class tst_OverlayFocusOnDesktop : public DesktopTest {
    Q_OBJECT
public:
    using DesktopTest::DesktopTest;

private slots:
    void initTestCase();
    void showingTheOverlayLeavesTheTargetFocused();
    void theCardGrowsInPlaceWithNothingUnpaintedShown();
    void draggedAndOnEveryWorkspaceWithoutTakingTheFocus();

private:
    TargetApp *m_target = nullptr;
};

void tst_OverlayFocusOnDesktop::initTestCase()
{
    Platform::install(createLinuxPlatform());
    m_target = m_desktop.startTarget(false);
    QVERIFY2(m_target, qPrintable(m_desktop.errorString()));
}

void tst_OverlayFocusOnDesktop::showingTheOverlayLeavesTheTargetFocused()
{
    QVERIFY(m_target->focus(TargetApp::textArea));
    Workspace &workspace = Platform::instance().workspace();
    auto frontPid = [&] { return workspace.frontmostApplication().value_or(RunningApplication{}).processIdentifier; };
    QTRY_COMPARE(frontPid(), m_target->pid());

    QQmlEngine engine;
    UiModule::install(engine);
    DictationOverlayModel model;
    DictationOverlayPanel panel(engine, model, x11CompositorRunning);
    DictationOverlayModel::Input listening;
    listening.isDictating = true;
    listening.mode = DictationMode::hold;
    listening.audioLevel = 0.5f;
    model.setInput(listening);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(panel.window()));

    // A dictation's worth of updates while the user keeps typing.
    QVERIFY(m_desktop.xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"),
                               QStringLiteral("typed under the overlay")}));
    for (int i = 0; i < 10; ++i) {
        listening.liveTranscript += QStringLiteral("word ");
        model.setInput(listening);
        QTest::qWait(20);
    }
    DictationOverlayModel::Input refining = listening;
    refining.isDictating = false;
    refining.isRefining = true;
    model.setInput(refining);
    QVERIFY(m_target->waitForText(TargetApp::textArea, QStringLiteral("typed under the overlay")));
    QCOMPARE(frontPid(), m_target->pid());
    QVERIFY(!panel.window()->isActive());

    panel.hide();
    QTRY_VERIFY(!panel.isVisible());
    QCOMPARE(frontPid(), m_target->pid());
}

namespace {

// What the X server shows, read as fast as it answers on a connection and a
// thread of our own, so that frames the overlay is never told about (the
// server's own handling of a resize) are caught too: one column over and
// over, and now and then the whole area around it, to look at.
class ScreenSampler {
public:
    ScreenSampler(QRect area, int column)
        : m_area(area)
        , m_column(column)
        , m_thread([this] { run(); })
    {
    }
    ~ScreenSampler() { stop(); }

    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    // Top to bottom, the area's rows at the column, in the order read.
    const std::vector<std::vector<quint32>> &columns() const { return m_columns; }
    const std::vector<QImage> &pictures() const { return m_pictures; }

private:
    void run()
    {
        xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(connection)) {
            xcb_disconnect(connection);
            return;
        }
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
        const auto read = [&](int x, int width) -> QImage {
            xcb_get_image_reply_t *reply = xcb_get_image_reply(
                connection,
                xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, root, int16_t(x), int16_t(m_area.y()),
                              uint16_t(width), uint16_t(m_area.height()), ~0u),
                nullptr);
            if (!reply)
                return {};
            // 24-bit depth comes in 32-bit pixels
            QImage image(xcb_get_image_data(reply), width, m_area.height(), QImage::Format_RGB32);
            image = image.copy();
            free(reply);
            return image;
        };
        QElapsedTimer sinceLastPicture;
        sinceLastPicture.start();
        while (!m_stop) {
            const QImage column = read(m_column, 1);
            if (column.isNull())
                break;
            std::vector<quint32> pixels(size_t(column.height()));
            for (int y = 0; y < column.height(); ++y)
                pixels[size_t(y)] = column.pixel(0, y) & 0xffffff;
            m_columns.push_back(std::move(pixels));
            if (m_pictures.empty() || sinceLastPicture.elapsed() >= 30) {
                m_pictures.push_back(read(m_area.x(), m_area.width()));
                sinceLastPicture.restart();
            }
        }
        xcb_disconnect(connection);
    }

    const QRect m_area;
    const int m_column;
    std::atomic<bool> m_stop = false;
    std::vector<std::vector<quint32>> m_columns;
    std::vector<QImage> m_pictures;
    std::thread m_thread;
};

} // namespace

void tst_OverlayFocusOnDesktop::theCardGrowsInPlaceWithNothingUnpaintedShown()
{
    QQmlEngine engine;
    UiModule::install(engine);
    DictationOverlayModel model;
    DictationOverlayPanel panel(engine, model, x11CompositorRunning);
    QQuickView *window = panel.window();
    DictationOverlayModel::Input refining;
    refining.liveTranscript = QStringLiteral("buy milk");
    refining.isRefining = true;
    model.setInput(refining);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTest::qWait(400); // the cards have come in and the window manager has placed it
    const QQuickItem *card = window->rootObject()->findChild<QQuickItem *>(QStringLiteral("overlayPanel"));
    QVERIFY(card);
    // the running card's time stands at the end of its row, not over its
    // spinner, though the card came while the stages list was out of sight
    // (cards are the list's items, not its children)
    const std::function<QQuickItem *(QQuickItem *, const QString &)> find = [&](QQuickItem *item, const QString &name) {
        if (item->objectName() == name)
            return item;
        for (QQuickItem *child : item->childItems()) {
            if (QQuickItem *found = find(child, name))
                return found;
        }
        return static_cast<QQuickItem *>(nullptr);
    };
    QQuickItem *base = find(window->contentItem(), QStringLiteral("stageCard_1"));
    const QQuickItem *elapsed = base ? find(base, QStringLiteral("elapsedText")) : nullptr;
    QVERIFY(elapsed);
    QVERIFY2(elapsed->mapToItem(base, QPointF(0, 0)).x() > base->width() / 2,
             qPrintable(QString::number(elapsed->mapToItem(base, QPointF(0, 0)).x())));
    const QRect before = QRect(window->mapToGlobal(card->mapToScene(QPointF(0, 0)).toPoint()),
                               card->size().toSize());

    // The column crosses only the card's own background, clear of its
    // corners' curve; the area reaches well above where the card will end.
    const int column = before.left() + 8;
    const int curve = 4;
    const QRect area(before.left() - 20, std::max(0, before.bottom() - 400), before.width() + 40,
                     before.bottom() + 1 - std::max(0, before.bottom() - 400));
    const int bottomRow = before.bottom() - area.top();
    ScreenSampler sampler(area, column);
    QTest::qWait(50);
    DictationOverlayModel::Input refined = refining;
    refined.refinedTranscript = QStringLiteral("Buy milk and eggs on the way home, and call the plumber about the "
                                               "kitchen sink before Friday afternoon.");
    model.setInput(refined);
    QTest::qWait(500);
    sampler.stop();

    QDir().mkpath(QStringLiteral(TAVRUNE_SCREENSHOT_DIR));
    for (size_t i = 0; i < sampler.pictures().size(); ++i)
        sampler.pictures()[i].save(QStringLiteral(TAVRUNE_SCREENSHOT_DIR "/overlay-growing-%1.png").arg(i, 2, 10, QLatin1Char('0')));
    QVERIFY(sampler.columns().size() > 20);
    const quint32 background = sampler.columns().front()[size_t(bottomRow - curve - 2)];
    // Each read: the card's background from its bottom edge up to its top
    // edge, only the desktop above that, and the card never shorter than it
    // started out.
    int shown = 0;
    for (const std::vector<quint32> &pixels : sampler.columns()) {
        int top = bottomRow - curve;
        while (top > 0 && pixels[size_t(top - 1)] == background)
            --top;
        const int height = bottomRow - top;
        int strays = 0;
        for (int y = 0; y < top - curve; ++y)
            strays += pixels[size_t(y)] == background;
        QVERIFY2(pixels[size_t(bottomRow - curve)] == background && height >= before.height() - 2 * curve
                     && height >= shown - 2 && strays == 0,
                 qPrintable(QStringLiteral("read %1 of %2: the card shows %3 rows above its bottom (%4 before), "
                                           "%5 more rows of it above")
                                .arg(&pixels - sampler.columns().data())
                                .arg(sampler.columns().size())
                                .arg(height)
                                .arg(shown)
                                .arg(strays)));
        shown = std::max(shown, height);
    }
    QVERIFY(shown > before.height() + 20);
    panel.hide();
    QTRY_VERIFY(!panel.isVisible());
}

namespace {

bool viewable(unsigned long window)
{
    X11Connection x11;
    XWindowAttributes attributes;
    return x11.display() && XGetWindowAttributes(x11.display(), window, &attributes)
        && attributes.map_state == IsViewable;
}

} // namespace

void tst_OverlayFocusOnDesktop::draggedAndOnEveryWorkspaceWithoutTakingTheFocus()
{
    QVERIFY(m_target->focus(TargetApp::textArea));
    QVERIFY(m_target->setText(TargetApp::textArea, QString()));
    Workspace &workspace = Platform::instance().workspace();
    auto frontPid = [&] { return workspace.frontmostApplication().value_or(RunningApplication{}).processIdentifier; };
    QTRY_COMPARE(frontPid(), m_target->pid());

    QQmlEngine engine;
    UiModule::install(engine);
    DictationOverlayModel model;
    DictationOverlayPanel panel(engine, model, x11CompositorRunning, x11ShowOnEveryWorkspace);
    QQuickView *window = panel.window();
    DictationOverlayModel::Input listening;
    listening.isDictating = true;
    model.setInput(listening);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTest::qWait(100); // the window manager has placed it
    const QPoint centred = window->position();

    // Dragged by the card's background, in steps as a hand moves.
    const QQuickItem *card = window->rootObject()->findChild<QQuickItem *>(QStringLiteral("overlayPanel"));
    const QPoint grip = card->mapToGlobal(QPointF(card->width() / 2, 12)).toPoint();
    const QPoint by(-300, -200);
    QVERIFY(m_desktop.xdotool({QStringLiteral("mousemove"), QString::number(grip.x()), QString::number(grip.y())}));
    QVERIFY(m_desktop.xdotool({QStringLiteral("mousedown"), QStringLiteral("1")}));
    for (int step = 1; step <= 10; ++step) {
        const QPoint at = grip + by * step / 10;
        QVERIFY(m_desktop.xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y())}));
        QTest::qWait(20);
    }
    QVERIFY(m_desktop.xdotool({QStringLiteral("mouseup"), QStringLiteral("1")}));
    // The move begins once the pointer has left the drag threshold behind.
    QTRY_VERIFY2((window->position() - (centred + by)).manhattanLength() <= 60,
                 qPrintable(QStringLiteral("at %1,%2").arg(window->x()).arg(window->y())));
    const QPoint dropped = window->position();
    QDir().mkpath(QStringLiteral(TAVRUNE_SCREENSHOT_DIR));
    QGuiApplication::primaryScreen()->grabWindow(0).save(QStringLiteral(TAVRUNE_SCREENSHOT_DIR "/overlay-moved.png"));
    QVERIFY(m_desktop.xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"),
                               QStringLiteral("after the drag")}));
    QVERIFY(m_target->waitForText(TargetApp::textArea, QStringLiteral("after the drag")));
    QCOMPARE(frontPid(), m_target->pid());

    // Cards after the stop make it taller: it grows upwards from where it was put.
    const auto cardOnScreen = [&] { return QRectF(card->mapToGlobal(QPointF(0, 0)), card->size()).toRect(); };
    const QRect put = cardOnScreen();
    DictationOverlayModel::Input refining;
    refining.isRefining = true;
    refining.liveTranscript = QStringLiteral("after the drag");
    model.setInput(refining);
    QTRY_VERIFY(cardOnScreen().height() > put.height() + 20);
    QTRY_COMPARE(cardOnScreen().bottom(), put.bottom());
    QCOMPARE(cardOnScreen().x(), put.x());
    QCOMPARE(window->x(), dropped.x());

    // Switching workspaces during a dictation leaves it in view, the next one too.
    for (int dictation = 0; dictation < 2; ++dictation) {
        QVERIFY(m_desktop.xdotool({QStringLiteral("set_desktop"), QStringLiteral("1")}));
        // the switch is done once the target has gone
        QTRY_VERIFY(!viewable(m_target->windowId()));
        QVERIFY(viewable(window->winId()));
        QVERIFY(m_desktop.xdotool({QStringLiteral("set_desktop"), QStringLiteral("0")}));
        panel.hide();
        QTRY_VERIFY(!panel.isVisible());
        model.setInput(listening);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        // centred again
        QTRY_COMPARE(window->position(), centred);
    }
    panel.hide();
    QTRY_VERIFY(!panel.isVisible());
}

TAVRUNE_E2E_MAIN(tst_OverlayFocusOnDesktop, DesktopHarness::Options{})
#include "tst_OverlayFocusOnDesktop.moc"

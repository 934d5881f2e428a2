#include "MenubarExtra.h"

#include "app/IconTable.h"
#include "app/MenubarViewModel.h"
#include "app/UiModule.h"
#include "app/ViewServices.h"
#include "support/Log.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QScreen>
#include <QTimer>

namespace {
const QString kTitle = QStringLiteral("Tavrune");
const QString kModule = QStringLiteral("qrc:/qt/qml/Tavrune/Ui/");
constexpr int kMessageMs = 15000;

// A symbolic theme icon drawn in one colour.
QIcon tinted(const QString &symbol, const QColor &colour)
{
    const QIcon themed = IconTable::icon(symbol);
    QIcon icon;
    for (const int extent : {16, 22, 24, 32, 48}) {
        QPixmap pixmap(extent, extent);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        themed.paint(&painter, pixmap.rect());
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), colour);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
} // namespace

MenubarExtra::MenubarExtra(QQmlEngine &engine, MenubarViewModel &viewModel, ViewServices &services, QObject *parent)
    : QObject(parent)
    , m_engine(engine)
    , m_viewModel(viewModel)
    , m_services(services)
    , m_tray(this)
{
    m_tray.setToolTip(kTitle);
    m_menu.addAction(QStringLiteral("Settings…"), this, &MenubarExtra::openSettings);
    m_menu.addSeparator();
    m_menu.addAction(QStringLiteral("Quit Tavrune"), qApp, &QCoreApplication::quit);
    m_tray.setContextMenu(&m_menu);
    connect(&m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        // the click was on the icon, not on the message
        m_messageClickPending = false;
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            toggleWindow();
    });
    // Every message points at the settings. The X11 tray reports a click on
    // the icon while a message shows as a click on the message first, then
    // as the icon's own in the same event: only a click nothing else claims
    // opens them.
    connect(&m_tray, &QSystemTrayIcon::messageClicked, this, [this] {
        m_messageShown.invalidate();
        m_messageClickPending = true;
        QTimer::singleShot(0, this, [this] {
            if (std::exchange(m_messageClickPending, false))
                openSettings();
        });
    });
    connect(&m_viewModel, &MenubarViewModel::isDictatingChanged, this, &MenubarExtra::updateIcon);
    updateIcon();
}

MenubarExtra::~MenubarExtra() = default;

void MenubarExtra::install()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        logLine("AppDelegate", "No system tray on this desktop (no status notifier host and no tray selection "
                               "owner): opening the window instead");
        openWindow();
        return;
    }
    m_tray.show();
}

void MenubarExtra::updateIcon()
{
    const bool dictating = m_viewModel.isDictating();
    m_tray.setIcon(tinted(dictating ? QStringLiteral("mic.fill") : QStringLiteral("mic"),
                          dictating ? QColor(0xff, 0x3b, 0x30) : QGuiApplication::palette().windowText().color()));
}

std::unique_ptr<QQuickView> MenubarExtra::makeView(const QString &file, const QSize &size, const QString &title,
                                                   const QVariantMap &properties)
{
    auto view = std::make_unique<QQuickView>(&m_engine, nullptr);
    // a tool window: no taskbar entry
    view->setFlags(Qt::Tool);
    view->setTitle(title);
    view->setResizeMode(QQuickView::SizeRootObjectToView);
    view->setInitialProperties(properties);
    view->setSource(QUrl(kModule + file));
    if (!view->errors().isEmpty())
        qWarning() << file << "failed to load:" << view->errors();
    view->resize(size);
    view->setMinimumSize(size);
    view->setMaximumSize(size);
    UiModule::announceAppearances(*view);
    return view;
}

void MenubarExtra::openWindow()
{
    if (!m_window) {
        m_window = makeView(QStringLiteral("MenubarWindow.qml"), windowSize, kTitle,
                            {{QStringLiteral("viewModel"), QVariant::fromValue(&m_viewModel)},
                             {QStringLiteral("services"), QVariant::fromValue(&m_services)}});
        showNotices();
    }
    // the frame, title bar included, goes below (or above) the icon
    if (!m_window->isVisible())
        m_window->setFramePosition(placementBesideIcon(windowSize + QSize(0, m_window->frameMargins().top())));
    m_window->show();
    m_window->raise();
    m_window->requestActivate();
}

void MenubarExtra::toggleWindow()
{
    if (m_window && m_window->isVisible())
        m_window->hide();
    else
        openWindow();
}

void MenubarExtra::openSettings()
{
    if (!m_settingsWindow) {
        m_settingsWindow = makeView(QStringLiteral("MacSettingsView.qml"), settingsSize,
                                    QStringLiteral("Tavrune Settings"),
                                    {{QStringLiteral("viewModel"), QVariant::fromValue(&m_viewModel)},
                                     {QStringLiteral("services"), QVariant::fromValue(&m_services)}});
    }
    m_settingsWindow->show();
    m_settingsWindow->raise();
    m_settingsWindow->requestActivate();
}

void MenubarExtra::showAccessibilityMessage()
{
    tell(QStringLiteral("Typing into other applications needs accessibility. Turn it on in "
                        "Settings › System › Grant Access."));
}

void MenubarExtra::showChordsUnavailableMessage(const QStringList &chords)
{
    const bool one = chords.size() == 1;
    const QString names = one ? chords.first() : chords.mid(0, chords.size() - 1).join(QStringLiteral(", "))
                                                     + QStringLiteral(" and ") + chords.last();
    tell(QStringLiteral("Another program already uses %1: pressing %2 does nothing in Tavrune. Free %3 in that "
                        "program's settings.")
             .arg(names, one ? QStringLiteral("it") : QStringLiteral("them"),
                  one ? QStringLiteral("the shortcut") : QStringLiteral("the shortcuts")));
}

void MenubarExtra::showHotkeysUnavailableMessage()
{
    tell(QStringLiteral("Tavrune's keyboard shortcuts do not work here: it cannot reach the X11 display. Start and "
                        "stop dictation from the Tavrune window instead."));
}

void MenubarExtra::tell(const QString &text)
{
    if (!hasTray()) {
        m_notices.append(text);
        showNotices();
        return;
    }
    const bool stillUp = m_messageShown.isValid() && !m_messageShown.hasExpired(kMessageMs);
    m_message = m_waitingForIcon || stillUp ? m_message + QStringLiteral("\n\n") + text : text;
    if (!m_waitingForIcon)
        showMessage();
}

void MenubarExtra::showMessage()
{
    // The tray places a new icon a moment later; the message belongs beside it.
    if (m_tray.isVisible() && !m_tray.geometry().isValid() && m_placementWaits++ < 20) {
        m_waitingForIcon = true;
        QTimer::singleShot(100, this, &MenubarExtra::showMessage);
        return;
    }
    m_waitingForIcon = false;
    m_messageShown.start();
    m_tray.showMessage(kTitle, m_message, QSystemTrayIcon::Information, kMessageMs);
}

void MenubarExtra::showNotices()
{
    if (m_window && m_window->rootObject())
        m_window->rootObject()->setProperty("notice", m_notices.join(QStringLiteral("\n\n")));
}

QPoint MenubarExtra::placementBesideIcon(const QSize &size) const
{
    const QRect icon = m_tray.isVisible() ? m_tray.geometry() : QRect();
    QScreen *screen = icon.isValid() ? QGuiApplication::screenAt(icon.center()) : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(QPoint(0, 0), size);
    // Without an icon to stand beside: the top right corner, where trays usually are.
    const QRect anchor = icon.isValid() ? icon : QRect(area.right() - 8, area.top(), 1, 1);
    int x = anchor.center().x() - size.width() / 2;
    int y = anchor.center().y() < area.center().y() ? anchor.bottom() + 4 : anchor.top() - 4 - size.height();
    x = std::clamp(x, area.left(), std::max(area.left(), area.right() + 1 - size.width()));
    y = std::clamp(y, area.top(), std::max(area.top(), area.bottom() + 1 - size.height()));
    return {x, y};
}

#pragma once

#include <QElapsedTimer>
#include <QMenu>
#include <QObject>
#include <QSize>
#include <QSystemTrayIcon>

#include <memory>

class MenubarViewModel;
class QQmlEngine;
class QQuickView;
class ViewServices;

// The tray icon and the two windows it opens: a microphone that turns red
// while dictating, whose click opens the menu-bar window beside it and whose
// menu offers the settings and Quit. Neither window has a taskbar entry.
// Main thread.
class MenubarExtra : public QObject {
    Q_OBJECT
public:
    static constexpr QSize windowSize{380, 560};
    static constexpr QSize settingsSize{480, 520};

    MenubarExtra(QQmlEngine &engine, MenubarViewModel &viewModel, ViewServices &services, QObject *parent = nullptr);
    ~MenubarExtra() override;

    // Shows the icon; on a desktop without a tray, opens the window instead.
    void install();
    bool hasTray() const { return m_tray.isVisible(); }

    // Opens the menu-bar window beside the icon.
    void openWindow();
    void openSettings();
    // One message on how to let Tavrune type into other applications.
    void showAccessibilityMessage();
    // One message naming the chords another program holds.
    void showChordsUnavailableMessage(const QStringList &chords);
    // One message saying that no chord works on this desktop.
    void showHotkeysUnavailableMessage();
    // Any other message; one still showing gets the new text below it.
    // Without a tray the window shows every message told, under its header.
    void tell(const QString &text);

    QQuickView *window() const { return m_window.get(); }
    QQuickView *settingsWindow() const { return m_settingsWindow.get(); }

private:
    void updateIcon();
    void toggleWindow();
    // Shows text beside the icon, under a message still up rather than in
    // its place; a click on it opens the settings.
    void showMessage();
    // The messages told without a tray, in the window.
    void showNotices();
    std::unique_ptr<QQuickView> makeView(const QString &file, const QSize &size, const QString &title,
                                         const QVariantMap &properties);
    // Top-left of the window beside the tray icon, inside the screen's free area.
    QPoint placementBesideIcon(const QSize &size) const;

    QQmlEngine &m_engine;
    MenubarViewModel &m_viewModel;
    ViewServices &m_services;
    // before the icon, which points at it until the icon goes
    QMenu m_menu;
    QSystemTrayIcon m_tray;
    std::unique_ptr<QQuickView> m_window;
    std::unique_ptr<QQuickView> m_settingsWindow;
    int m_placementWaits = 0;
    QString m_message;
    QStringList m_notices;
    bool m_waitingForIcon = false;
    // A message click waiting to see whether it was the icon's.
    bool m_messageClickPending = false;
    QElapsedTimer m_messageShown;
};

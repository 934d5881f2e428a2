#pragma once

#include "app/OverlayPanel.h"

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWindow>

#include <functional>
#include <memory>
#include <mutex>

class DictationOverlayModel;
class QQmlEngine;
class QQuickView;
class QVariantAnimation;

// The floating panel that shows the dictation's progress near the bottom of
// the primary screen. It never takes the keyboard focus, so the application
// that will receive the text stays in front. Main thread.
class DictationOverlayPanel : public QObject, public OverlayPanel {
    Q_OBJECT

public:
    // Bottom edge of the panel above the bottom of the screen's free area.
    static constexpr int bottomOffset = 120;
    static constexpr int fadeInMs = 200;
    static constexpr int fadeOutMs = 150;

    // compositing tells whether translucent windows blend with the desktop;
    // without it the panel is drawn opaque with its corners cut by a mask.
    // showOnEveryWorkspace asks, at each mapping of the native window, that it
    // stay in view when the user switches workspaces; may be empty.
    DictationOverlayPanel(QQmlEngine &engine, DictationOverlayModel &model, std::function<bool()> compositing,
                          std::function<void(WId)> showOnEveryWorkspace = {}, QObject *parent = nullptr);
    ~DictationOverlayPanel() override;

    // Placed (centred again, wherever it was dragged to), shown without
    // activation at opacity 0, then faded in.
    void show() override;
    // Faded out, then hidden, unless show() came in the meantime.
    void hide() override;

    bool isVisible() const;
    QQuickView *window() const { return m_view.get(); }

    // Top-left of a window of this size whose visible card (inset by margin on
    // every side) is centred on the area with its bottom bottomOffset above
    // the area's bottom.
    static QPoint placement(const QRect &available, const QSize &windowSize, int margin);

private:
    // Makes the native window, again when compositing came or went.
    void prepareWindow();
    void place();
    // The window follows the card's size with its bottom edge in place.
    void fitToContent();
    // The window's size for the card as it is now.
    QSize contentSize() const;
    // A drag on the card hands the window to the window manager to move.
    Q_SLOT void startMove();
    void fadeTo(double opacity, int durationMs, std::function<void()> finished);
    // Without a compositor the window is cut to the card as last presented:
    // rows it has not drawn yet, as after the window grew, stay hidden.
    QRect cardRect() const;
    void noteSynchronizedCard();
    void notePresentedCard();
    void applyMask(const QRect &card);

    DictationOverlayModel &m_model;
    std::function<bool()> m_compositing;
    std::function<void(WId)> m_showOnEveryWorkspace;
    std::unique_ptr<QQuickView> m_view;
    QPointer<QVariantAnimation> m_fade;
    // Each show() starts a new generation; a fade-out only hides its own.
    quint64 m_generation = 0;
    bool m_translucent = false;
    // Dragged since it was last shown: it stays where the user put it.
    bool m_userPlaced = false;
    // The card in the frame being rendered and in the last one presented;
    // written on the render thread.
    std::mutex m_cardMutex;
    QRect m_synchronizedCard;
    QRect m_presentedCard;
    QRect m_maskedCard;
};

#include "app/DictationOverlayPanel.h"

#include "app/DictationOverlayModel.h"

#include <QGuiApplication>
#include <QPainterPath>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QRegion>
#include <QScreen>
#include <QVariantAnimation>
#include <QtMath>

#include <algorithm>

DictationOverlayPanel::DictationOverlayPanel(QQmlEngine &engine, DictationOverlayModel &model,
                                             std::function<bool()> compositing,
                                             std::function<void(WId)> showOnEveryWorkspace, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_compositing(std::move(compositing))
    , m_showOnEveryWorkspace(std::move(showOnEveryWorkspace))
    , m_view(std::make_unique<QQuickView>(&engine, nullptr))
{
    // A floating tool window that the window manager never gives the focus.
    m_view->setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus);
    m_view->setProperty("_q_showWithoutActivating", true);
    m_view->setTitle(QStringLiteral("Tavrune dictation"));
    // The panel sizes the window itself, so that a new height and the move
    // that keeps the bottom edge in place reach the window system together.
    m_view->setResizeMode(QQuickView::SizeRootObjectToView);
    m_view->setInitialProperties({{QStringLiteral("model"), QVariant::fromValue(&m_model)}});
    m_view->setSource(QUrl(QStringLiteral("qrc:/qt/qml/Tavrune/Ui/DictationOverlay.qml")));
    if (!m_view->errors().isEmpty())
        qWarning() << "overlay view failed to load:" << m_view->errors();
    if (QQuickItem *root = m_view->rootObject()) {
        connect(root, &QQuickItem::implicitHeightChanged, this, &DictationOverlayPanel::fitToContent);
        connect(root, &QQuickItem::implicitWidthChanged, this, &DictationOverlayPanel::fitToContent);
        connect(root, SIGNAL(dragStarted()), this, SLOT(startMove()));
    }
    m_view->resize(contentSize());
    // Both on the render thread, if there is one: the card is read while the
    // scene is handed over and masked once that frame is on screen.
    connect(m_view.get(), &QQuickWindow::afterSynchronizing, this, &DictationOverlayPanel::noteSynchronizedCard,
            Qt::DirectConnection);
    connect(m_view.get(), &QQuickWindow::frameSwapped, this, &DictationOverlayPanel::notePresentedCard,
            Qt::DirectConnection);
    // The native window is made now, so the first dictation shows at once.
    prepareWindow();
}

DictationOverlayPanel::~DictationOverlayPanel()
{
    // The render thread stops with the window, before the card's records go.
    m_view.reset();
}

QPoint DictationOverlayPanel::placement(const QRect &available, const QSize &windowSize, int margin)
{
    const int x = available.x() + (available.width() - windowSize.width()) / 2;
    const int cardBottom = available.y() + available.height() - bottomOffset;
    return {x, cardBottom + margin - windowSize.height()};
}

QSize DictationOverlayPanel::contentSize() const
{
    const QQuickItem *root = m_view->rootObject();
    QSize size = root ? QSize(qCeil(root->implicitWidth()), qCeil(root->implicitHeight())) : m_view->size();
    // Without a compositor a window that grows upwards shows rows it has not
    // drawn yet, and its cut-out stays put against its top edge while the
    // card moves: for a frame or two the card shows shifted up with the
    // desktop where its lower part was. So the window never grows: it reaches
    // from the card's bottom edge to the top of the free area, and its
    // cut-out shows the card alone.
    if (!m_translucent && root)
        if (const QScreen *screen = QGuiApplication::primaryScreen())
            size.setHeight(std::max(size.height(), screen->availableGeometry().height() - bottomOffset));
    return size;
}

void DictationOverlayPanel::place()
{
    const QSize size = contentSize();
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen) {
        m_view->resize(size);
        return;
    }
    const int margin = m_view->rootObject() ? m_view->rootObject()->property("shadowMargin").toInt() : 0;
    m_view->setGeometry(QRect(placement(screen->availableGeometry(), size, margin), size));
}

void DictationOverlayPanel::fitToContent()
{
    const QSize size = contentSize();
    if (!m_view->isVisible()) {
        m_view->resize(size);
    } else if (!m_userPlaced) {
        place();
    } else {
        // Where the user dragged it, the bottom edge stays put.
        const QRect now = m_view->geometry();
        m_view->setGeometry(QRect(QPoint(now.x(), now.y() + now.height() - size.height()), size));
    }
}

void DictationOverlayPanel::startMove()
{
    m_userPlaced = true;
    m_view->startSystemMove();
}

void DictationOverlayPanel::show()
{
    ++m_generation;
    prepareWindow();
    m_userPlaced = false;
    place();
    m_view->setOpacity(m_translucent ? 0 : 1);
    const bool mapped = m_view->isVisible();
    m_view->show();
    // A withdrawn window has lost its workspace hints; a fading one keeps them.
    if (!mapped && m_showOnEveryWorkspace)
        m_showOnEveryWorkspace(m_view->winId());
    fadeTo(1, fadeInMs, {});
}

void DictationOverlayPanel::prepareWindow()
{
    const bool translucent = m_compositing && m_compositing();
    if (translucent != m_translucent || !m_view->handle()) {
        // The window's alpha channel is fixed when it is created.
        m_view->destroy();
        m_translucent = translucent;
        QSurfaceFormat format = m_view->format();
        format.setAlphaBufferSize(translucent ? 8 : 0);
        m_view->setFormat(format);
        QQuickItem *root = m_view->rootObject();
        if (root)
            root->setProperty("translucent", translucent);
        m_view->setColor(translucent || !root ? QColor(Qt::transparent) : root->property("panelColor").value<QColor>());
        m_maskedCard = QRect();
        applyMask(cardRect());
        m_view->create();
    }
}

void DictationOverlayPanel::hide()
{
    const quint64 generation = m_generation;
    fadeTo(0, fadeOutMs, [this, generation] {
        if (generation == m_generation)
            m_view->hide();
    });
}

bool DictationOverlayPanel::isVisible() const
{
    return m_view->isVisible();
}

void DictationOverlayPanel::fadeTo(double opacity, int durationMs, std::function<void()> finished)
{
    if (m_fade)
        m_fade->stop();
    auto *fade = new QVariantAnimation(this);
    fade->setStartValue(m_view->opacity());
    fade->setEndValue(opacity);
    fade->setDuration(durationMs);
    // Without a compositor window opacity means nothing; the timing stays.
    connect(fade, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        if (m_translucent)
            m_view->setOpacity(value.toDouble());
    });
    connect(fade, &QVariantAnimation::finished, this, [finished = std::move(finished)] {
        if (finished)
            finished();
    });
    m_fade = fade;
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

QRect DictationOverlayPanel::cardRect() const
{
    const QQuickItem *root = m_view->rootObject();
    const QQuickItem *card = root ? root->findChild<QQuickItem *>(QStringLiteral("overlayPanel")) : nullptr;
    return card ? card->mapRectToScene(card->boundingRect()).toAlignedRect() : QRect(QPoint(), m_view->size());
}

void DictationOverlayPanel::noteSynchronizedCard()
{
    // The scene is not changing now: the main thread waits for the handover.
    const QRect card = cardRect();
    const std::lock_guard lock(m_cardMutex);
    m_synchronizedCard = card;
}

void DictationOverlayPanel::notePresentedCard()
{
    {
        const std::lock_guard lock(m_cardMutex);
        m_presentedCard = m_synchronizedCard;
    }
    QMetaObject::invokeMethod(this, [this] {
        QRect card;
        {
            const std::lock_guard lock(m_cardMutex);
            card = m_presentedCard;
        }
        applyMask(card);
    }, Qt::AutoConnection);
}

void DictationOverlayPanel::applyMask(const QRect &card)
{
    if (m_translucent) {
        if (!m_view->mask().isEmpty())
            m_view->setMask(QRegion());
        return;
    }
    if (card == m_maskedCard)
        return;
    m_maskedCard = card;
    // Without a compositor there is no alpha: cut the corners instead.
    const double radius = m_view->rootObject() ? m_view->rootObject()->property("cornerRadius").toDouble() : 0;
    QPainterPath path;
    path.addRoundedRect(QRectF(card), radius, radius);
    m_view->setMask(QRegion(path.toFillPolygon().toPolygon()));
}

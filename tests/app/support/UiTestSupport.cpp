#include "support/CoordinatorRig.h"
#include "UiTestSupport.h"

#include "app/UiModule.h"
#include "support/FutureWait.h"
#include "pipeline/DictationSessionCoordinator.h"

#include <QAccessible>
#include <QDir>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSet>
#include <QtTest>

std::unique_ptr<DictationSessionCoordinator> UiTest::makeCoordinator()
{
    return std::make_unique<RiggedCoordinator>();
}

std::unique_ptr<QQmlEngine> UiTest::makeEngine()
{
    auto engine = std::make_unique<QQmlEngine>();
    UiModule::install(*engine);
    return engine;
}

QList<QQuickItem *> UiTest::findAll(QQuickItem *root, const std::function<bool(QQuickItem *)> &matches)
{
    // Through the visual tree: items made by repeaters and views have no QObject parent.
    QList<QQuickItem *> found;
    for (QQuickItem *child : root->childItems()) {
        if (matches(child))
            found.append(child);
        found += findAll(child, matches);
    }
    return found;
}

QList<QQuickItem *> UiTest::findAllVisible(QQuickItem *root, const QString &objectName)
{
    return findAll(root, [&](QQuickItem *item) { return item->objectName() == objectName && item->isVisible(); });
}

QQuickItem *UiTest::findVisible(QQuickItem *root, const QString &objectName)
{
    const QList<QQuickItem *> found = findAllVisible(root, objectName);
    return found.isEmpty() ? nullptr : found.first();
}

void UiTest::click(QQuickWindow *window, QQuickItem *item)
{
    // Layouts settle on the next frame: a change just made may still move the item.
    QTest::qWait(20);
    // Scroll the enclosing list until the item is in view.
    for (QQuickItem *flickable = item->parentItem(); flickable; flickable = flickable->parentItem()) {
        if (!flickable->inherits("QQuickFlickable"))
            continue;
        const QRectF inView = item->mapRectToItem(flickable, QRectF(0, 0, item->width(), item->height()));
        if (inView.bottom() > flickable->height())
            flickable->setProperty("contentY", flickable->property("contentY").toReal() + inView.bottom() - flickable->height());
        QTest::qWait(50);
        break;
    }
    const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
}

void UiTest::type(QQuickWindow *window, const QString &text)
{
    for (const QChar c : text)
        QTest::keyClick(window, c.toLatin1());
}

QList<UiTest::Sample> UiTest::sample(const std::function<qreal()> &read, int durationMs, const std::function<bool()> &until)
{
    QList<Sample> samples;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < durationMs && !(until && until())) {
        samples.append({clock.elapsed(), read()});
        QTest::qWait(8);
    }
    return samples;
}

QStringList UiTest::readableTexts(QQuickWindow *window)
{
    QStringList texts;
    const std::function<void(QAccessibleInterface *)> walk = [&](QAccessibleInterface *object) {
        if (object->role() == QAccessible::StaticText)
            texts.append(object->text(QAccessible::Name));
        for (int i = 0; i < object->childCount(); ++i) {
            if (QAccessibleInterface *child = object->child(i))
                walk(child);
        }
    };
    walk(QAccessible::queryAccessibleInterface(window));
    return texts;
}

QImage UiTest::screenshot(QQuickWindow *window, const QString &name, const QRect &part)
{
    // A see-through window is shown as a compositor would, over a desktop.
    const QColor background = window->color();
    if (background.alpha() == 0)
        window->setColor(QColor(0x5a, 0x6e, 0x82));
    QImage image = window->grabWindow();
    window->setColor(background);
    if (!part.isNull())
        image = image.copy(part);
    QDir().mkpath(QStringLiteral(TAVRUNE_SCREENSHOT_DIR));
    image.save(QStringLiteral(TAVRUNE_SCREENSHOT_DIR "/%1.png").arg(name));
    return image;
}

double UiTest::shareOfColour(const QImage &image, const QColor &colour, int tolerance)
{
    qint64 close = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (qAbs(c.red() - colour.red()) + qAbs(c.green() - colour.green()) + qAbs(c.blue() - colour.blue())
                <= tolerance)
                ++close;
        }
    }
    return image.isNull() ? 0 : double(close) / (qint64(image.width()) * image.height());
}

int UiTest::distinctColours(const QImage &image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y) & 0xf0f0f0f0);
    }
    return int(colours.size());
}

void UiTest::ViewRig::show(const QString &file, const QList<ModelDescriptor> &catalogue)
{
    services = std::make_unique<ViewServices>(ViewServices::Collaborators{
        store, models, [] { return std::make_unique<ModelDownloadService>(); }, platform.loginItems(),
        platform.accessibility(), voice, catalogue});
    view = std::make_unique<QQuickView>(engine.get(), nullptr);
    view->setInitialProperties({{QStringLiteral("viewModel"), QVariant::fromValue(&viewModel)},
                                {QStringLiteral("services"), QVariant::fromValue(services.get())}});
    view->setSource(QUrl(QStringLiteral("qrc:/qt/qml/Tavrune/Ui/%1.qml").arg(file)));
    QVERIFY2(view->errors().isEmpty(), qPrintable(view->errors().value(0).toString()));
    UiModule::announceAppearances(*view);
    view->show();
    QVERIFY(QTest::qWaitForWindowExposed(view.get()));
    QVERIFY(waitForFuture(viewModel.pendingReload()));
}

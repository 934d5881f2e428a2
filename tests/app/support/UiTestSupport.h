#pragma once

#include "app/MenubarViewModel.h"
#include "app/ViewServices.h"
#include "models/ModelManager.h"
#include "pipeline/DictationSessionCoordinator.h"
#include "platform/fake/FakePlatform.h"
#include "profile/VoiceProfileStore.h"

#include "FakeVoiceSettings.h"
#include "support/WhisperModelWriter.h"

#include <QImage>
#include <QList>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <memory>

class QQuickWindow;

namespace UiTest {

// The coordinator the interface tests drive. The one place that knows how
// to build it.
std::unique_ptr<DictationSessionCoordinator> makeCoordinator();

// A QML engine ready for the Tavrune.Ui module.
std::unique_ptr<QQmlEngine> makeEngine();

// Every item below root (in the visual tree) that matches.
QList<QQuickItem *> findAll(QQuickItem *root, const std::function<bool(QQuickItem *)> &matches);
// The visible items below root with this objectName.
QList<QQuickItem *> findAllVisible(QQuickItem *root, const QString &objectName);
// The first item below root with this objectName that is visible (nullptr if none).
QQuickItem *findVisible(QQuickItem *root, const QString &objectName);
// Clicks the item's centre.
void click(QQuickWindow *window, QQuickItem *item);

// Types the text into whatever has the keyboard focus.
void type(QQuickWindow *window, const QString &text);

// A value read about every frame for durationMs, from now: how an animation
// moves it. Stops early once until() holds, if given.
struct Sample {
    qint64 ms;
    qreal value;
};
QList<Sample> sample(const std::function<qreal()> &read, int durationMs, const std::function<bool()> &until = {});

// The texts a screen reader finds in the window: the names of its static
// texts, as its accessibility tree holds them.
QStringList readableTexts(QQuickWindow *window);

// Renders the window, saves it (or the given part of it) as
// <build>/screenshots/<name>.png and returns that.
QImage screenshot(QQuickWindow *window, const QString &name, const QRect &part = {});
// Share of pixels whose colour is close to the given one.
double shareOfColour(const QImage &image, const QColor &colour, int tolerance = 40);
// Number of distinct colours (quantised), a measure of drawn content.
int distinctColours(const QImage &image);

// A window of the module over a real profile file and fake platform
// services, wired as the app wires it. Fill the store, then show().
struct ViewRig {
    FakePlatform &platform = FakePlatform::installNew();
    QTemporaryDir directory;
    VoiceProfileStore store{directory.filePath(QStringLiteral("profile.sqlite"))};
    std::unique_ptr<DictationSessionCoordinator> coordinator = makeCoordinator();
    ModelManager models{platform.paths(), WhisperModelShape::tinyFamily()};
    MenubarViewModel viewModel{{*coordinator, models, store, platform.pasteboard(), platform.settings(), {}}};
    FakeVoiceSettings voice;
    std::unique_ptr<ViewServices> services;
    std::unique_ptr<QQmlEngine> engine = makeEngine();
    std::unique_ptr<QQuickView> view;

    // Loads <file>.qml at its own size and waits until it is on screen.
    void show(const QString &file, const QList<ModelDescriptor> &catalogue = ModelDescriptor::all());
    QQuickItem *item(const QString &name) { return findVisible(view->contentItem(), name); }
    QString text(const QString &name) { return item(name) ? item(name)->property("text").toString() : QString(); }
    void click(const QString &name) { UiTest::click(view.get(), item(name)); }
};

} // namespace UiTest

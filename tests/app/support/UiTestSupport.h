#pragma once

#include <QImage>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

class DictationSessionCoordinator;
class QQmlEngine;
class QQuickItem;
class QQuickWindow;

namespace UiTest {

// The coordinator the interface tests drive. The one place that knows how
// to build it.
std::unique_ptr<DictationSessionCoordinator> makeCoordinator();
// Whether that coordinator really starts a dictation when toggled.
constexpr bool coordinatorDictates = true;

// A QML engine ready for the Tavrune.Ui module.
std::unique_ptr<QQmlEngine> makeEngine();

// Every item below root (in the visual tree) that matches.
QList<QQuickItem *> findAll(QQuickItem *root, const std::function<bool(QQuickItem *)> &matches);
// The first item below root with this objectName that is visible (nullptr if none).
QQuickItem *findVisible(QQuickItem *root, const QString &objectName);
// Clicks the item's centre.
void click(QQuickWindow *window, QQuickItem *item);

// Types the text into whatever has the keyboard focus.
void type(QQuickWindow *window, const QString &text);

// Renders the window, saves it as <build>/screenshots/<name>.png and
// returns it.
QImage screenshot(QQuickWindow *window, const QString &name);
// Share of pixels whose colour is close to the given one.
double shareOfColour(const QImage &image, const QColor &colour, int tolerance = 40);
// Number of distinct colours (quantised), a measure of drawn content.
int distinctColours(const QImage &image);

} // namespace UiTest

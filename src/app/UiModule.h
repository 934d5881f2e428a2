#pragma once

class QQmlEngine;
class QQuickView;

// Prepares an engine for the Tavrune.Ui module: its types, the "symbol"
// image provider (image://symbol/<SF Symbol name>/<#aarrggbb colour>), the
// icon theme it draws from and the translations of its counted texts.
namespace UiModule {

void install(QQmlEngine &engine);

// The English plural forms of counted texts ("1 recording", "2 recordings"),
// for the whole application; install() does it too. Once is enough.
void installTranslations();

// Calls the root view's appear() each time the window comes on screen, the
// first time included. The views cannot see this for themselves: their root
// item stays visible while its window is hidden.
void announceAppearances(QQuickView &view);

} // namespace UiModule

#pragma once

class QQmlEngine;

// Prepares an engine for the Tavrune.Ui module: its types, the "symbol"
// image provider (image://symbol/<SF Symbol name>/<#aarrggbb colour>) and the
// icon theme it draws from.
namespace UiModule {

void install(QQmlEngine &engine);

} // namespace UiModule

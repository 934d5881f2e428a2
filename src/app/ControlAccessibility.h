#pragma once

// Qt Quick 6.4 reports every control enabled to a screen reader, greyed or
// not. install() puts a thin layer over the accessible interface of each
// control and text field: one whose `enabled` is false is reported disabled (on
// AT-SPI: neither enabled nor sensitive), and the change is announced.
// Call it once QtQuick has set up its own accessibility (UiModule::install
// does), so that this layer is asked first.
namespace ControlAccessibility {

void install();

} // namespace ControlAccessibility

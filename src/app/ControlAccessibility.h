#pragma once

// Qt Quick 6.4 reports every control enabled to a screen reader, greyed or
// not. install() puts a thin layer over the accessible interface of each
// control and text field: one whose `enabled` is false is reported disabled (on
// AT-SPI: neither enabled nor sensitive), and the change is announced. Each
// action is listed once, the control's own before taking the focus, and the
// role a view gives a popup holds over the dialog Qt Quick makes of it. A
// screen reader that moves the focus to a control makes it ring, as Tab does.
// The factory installed last is asked first: call it once a QML engine
// exists, when Qt Quick's own is in place (UiModule::install does).
namespace ControlAccessibility {

void install();

} // namespace ControlAccessibility

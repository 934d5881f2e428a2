#pragma once

// Asks the window manager to show a top-level window on every workspace
// (_NET_WM_DESKTOP all desktops, _NET_WM_STATE_STICKY). Call it while the
// window is unmapped: managers read both when they map it and drop them when
// it is withdrawn. Does nothing without a display.
void x11ShowOnEveryWorkspace(unsigned long window);

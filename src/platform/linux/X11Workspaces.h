#pragma once

// Asks the window manager to show a top-level window on every workspace
// (_NET_WM_DESKTOP all desktops, _NET_WM_STATE_STICKY), each time it is
// shown: as hints the manager reads when it maps the window, and as requests
// for a window it already manages (or whose hints it dropped when the window
// was last withdrawn). Does nothing unless Qt itself runs on X11.
void x11ShowOnEveryWorkspace(unsigned long window);

#pragma once

// Whether a compositing manager runs on the X display (it owns the
// _NET_WM_CM_S<screen> selection), so that translucent windows blend with
// what lies below instead of showing black. False without a display.
bool x11CompositorRunning();

#pragma once

// The floating dictation panel as the application delegate drives it.
class OverlayPanel {
public:
    virtual ~OverlayPanel() = default;
    virtual void show() = 0;
    virtual void hide() = 0;
};
